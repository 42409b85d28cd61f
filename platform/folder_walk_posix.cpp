#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/folder_walk.h"

#ifndef AT_NO_AUTOMOUNT  // a C library without it (the browser's) has no automounter either
#define AT_NO_AUTOMOUNT 0
#endif

namespace {

// Opened for listing only: never waiting on anything, never inherited.
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK;

struct Listed {
  std::string name;
  WalkEntryType type = WalkEntryType::File;
  bool folder = false;
  uint64_t size = 0;
  FileIdentity identity;
};

struct Level {
  int fd = -1;
  std::string path;
  FileIdentity identity;
  std::vector<Listed> entries;  // sorted by name
  size_t next = 0;
};

FileIdentity IdentityOfStat(const struct stat& st) {
  FileIdentity identity;
  identity.volume = static_cast<uint64_t>(st.st_dev);
  identity.file = static_cast<uint64_t>(st.st_ino);
  return identity;
}

// The mount an open folder belongs to, where the system tells it (a bind mount of the same
// file system has a mount of its own); 0 where it does not.
uint64_t MountOf(int fd) {
#if defined(__linux__) && defined(STATX_MNT_ID)
  struct statx sx {};
  if (statx(fd, "", AT_EMPTY_PATH | AT_NO_AUTOMOUNT, STATX_MNT_ID, &sx) == 0 &&
      (sx.stx_mask & STATX_MNT_ID))
    return sx.stx_mnt_id;
#else
  (void)fd;
#endif
  return 0;
}

}  // namespace

struct FolderWalk::Impl {
  std::vector<Level> levels;  // the folders on the way down, the root first
  dev_t device = 0;           // the root's file system
  uint64_t mount = 0;         // and mount (0: unknown)

  ~Impl() {
    for (Level& level : levels) close(level.fd);
  }

  // Reads the folder open at level.fd whole and sorts it; 0 or the system's code.
  uint32_t Read(Level& level) {
    const int listing = dup(level.fd);  // closedir closes its own descriptor
    if (listing < 0) return static_cast<uint32_t>(errno);
    DIR* dir = fdopendir(listing);
    if (!dir) {
      const int error = errno;
      close(listing);
      return static_cast<uint32_t>(error);
    }
    uint32_t status = 0;
    for (;;) {
      errno = 0;
      const dirent* entry = readdir(dir);
      if (!entry) {
        status = static_cast<uint32_t>(errno);
        break;
      }
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
      Listed listed;
      listed.name = name;
      struct stat st {};
      if (fstatat(level.fd, name, &st, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) != 0) {
        if (errno == ENOENT) continue;          // gone since the listing: nothing there to walk
        status = static_cast<uint32_t>(errno);  // a folder that can be listed, not searched
        break;
      }
      if (S_ISREG(st.st_mode)) {
        listed.size = static_cast<uint64_t>(st.st_size);
        listed.identity = IdentityOfStat(st);
      } else if (S_ISDIR(st.st_mode)) {
        listed.folder = st.st_dev == device;
        listed.type = WalkEntryType::OtherFileSystem;
        listed.identity = IdentityOfStat(st);
      } else if (S_ISLNK(st.st_mode)) {
        listed.type = WalkEntryType::Link;
      } else if (S_ISSOCK(st.st_mode)) {
        listed.type = WalkEntryType::Socket;
      } else if (S_ISFIFO(st.st_mode)) {
        listed.type = WalkEntryType::Fifo;
      } else {
        listed.type = WalkEntryType::Device;  // block and character devices, and whatever else
      }
      level.entries.push_back(std::move(listed));
    }
    closedir(dir);
    if (status != 0) {
      level.entries.clear();
      return status;
    }
    std::sort(level.entries.begin(), level.entries.end(),
              [](const Listed& a, const Listed& b) { return a.name < b.name; });
    return 0;
  }

  // Opens, checks and reads the folder listed as name in parent; on a problem, entry says
  // it and false is returned.
  bool Enter(const Level& parent, const Listed& listed, std::string path, WalkEntry* entry) {
    entry->path = path;
    entry->folder = parent.identity;
    entry->type = WalkEntryType::Unreadable;
    Level level;
    level.fd = openat(parent.fd, listed.name.c_str(), kFolderFlags | O_NOFOLLOW);
    if (level.fd < 0) {
      entry->code = static_cast<uint32_t>(errno);
      // A link put there since the listing (refused as a loop, or as no folder).
      struct stat now {};
      if (fstatat(parent.fd, listed.name.c_str(), &now, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) ==
              0 &&
          S_ISLNK(now.st_mode))
        entry->type = WalkEntryType::Link;
      return false;
    }
    struct stat st {};
    if (fstat(level.fd, &st) != 0) {
      entry->code = static_cast<uint32_t>(errno);
      close(level.fd);
      return false;
    }
    if (st.st_dev != device || (mount != 0 && MountOf(level.fd) != mount)) {
      entry->type = WalkEntryType::OtherFileSystem;
      close(level.fd);
      return false;
    }
    level.path = std::move(path);
    level.identity = IdentityOfStat(st);
    if (const uint32_t status = Read(level)) {
      entry->code = status;
      close(level.fd);
      return false;
    }
    levels.push_back(std::move(level));
    return true;
  }
};

FolderWalk::FolderWalk() = default;
FolderWalk::~FolderWalk() = default;

uint32_t FolderWalk::Open(const std::string& root) {
  m_impl = std::make_unique<Impl>();
  Level level;
  level.path = root;
  while (level.path.size() > 1 && level.path.back() == '/') level.path.pop_back();
  level.fd = open(root.c_str(), kFolderFlags);
  if (level.fd < 0) return static_cast<uint32_t>(errno);
  struct stat st {};
  if (fstat(level.fd, &st) != 0) {
    const int error = errno;
    close(level.fd);
    return static_cast<uint32_t>(error);
  }
  m_impl->device = st.st_dev;
  m_impl->mount = MountOf(level.fd);
  level.identity = IdentityOfStat(st);
  if (const uint32_t status = m_impl->Read(level)) {
    close(level.fd);
    return status;
  }
  m_impl->levels.push_back(std::move(level));
  return 0;
}

bool FolderWalk::Next(WalkEntry* entry) {
  if (!m_impl) return false;
  *entry = WalkEntry();
  std::vector<Level>& levels = m_impl->levels;
  while (!levels.empty()) {
    Level& top = levels.back();
    if (top.next == top.entries.size()) {
      close(top.fd);
      levels.pop_back();
      continue;
    }
    const Listed& listed = top.entries[top.next++];
    std::string path = top.path == "/" ? "/" + listed.name : top.path + "/" + listed.name;
    if (listed.folder) {
      if (m_impl->Enter(top, listed, std::move(path), entry)) continue;
      return true;
    }
    entry->path = std::move(path);
    entry->type = listed.type;
    entry->size = listed.size;
    entry->identity = listed.identity;
    entry->folder = top.identity;
    return true;
  }
  return false;
}
