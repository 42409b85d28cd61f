#include "platform/file_ops.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/system_error.h"

const char kPathSeparator = '/';
const size_t kMaxPathLength = 4096;
size_t PathLength(const std::string& path) { return path.size(); }

namespace {

uint32_t Status(int rc) { return rc == 0 ? 0 : static_cast<uint32_t>(errno); }

// Calls each(folderFd, name) for every entry of a folder but "." and ".." until it
// returns false; folderFd is the open folder's descriptor, for the *at calls. False when
// the folder cannot be opened.
template <typename Each>
bool ForEachEntry(const char* folder, Each each) {
  DIR* dir = opendir(folder);
  if (!dir) return false;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != ".." && !each(dirfd(dir), name)) break;
  }
  closedir(dir);
  return true;
}

bool IsNumber(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// The folder holding path, for syncing its entries.
std::string ContainingFolder(const char* path) {
  const std::string p(path);
  const size_t slash = p.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return p.substr(0, slash);
}

}  // namespace

// A file (not a link or folder) without any write permission bit: read-only in the sense
// of SetReadOnly, which the system would still let root change.
bool IsReadOnly(const char* path) {
  struct stat st {};
  return lstat(path, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0;
}

uint32_t DeletePath(const char* path) {
  if (IsReadOnly(path)) return EACCES;
  return Status(unlink(path));
}

uint32_t SetReadOnly(const char* path, bool readOnly) {
  struct stat st {};
  if (lstat(path, &st) != 0) return static_cast<uint32_t>(errno);
  if (S_ISLNK(st.st_mode)) return ELOOP;
  const mode_t mode = readOnly ? (st.st_mode & ~static_cast<mode_t>(0222)) : (st.st_mode | S_IWUSR);
  // Changes the file the name leads to only when that is not a link (refused since the
  // lstat above: a link put there meanwhile is refused by the call itself).
  return Status(fchmodat(AT_FDCWD, path, mode & 07777, AT_SYMLINK_NOFOLLOW));
}

bool IdentityOf(const char* path, FileIdentity* identity) {
  struct stat st {};
  if (lstat(path, &st) != 0) return false;
  identity->volume = static_cast<uint64_t>(st.st_dev);
  identity->file = static_cast<uint64_t>(st.st_ino);
  return true;
}

uint64_t SizeOfFile(const char* path) {
  struct stat st {};
  return stat(path, &st) == 0 && S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
}

bool FolderIdentityOf(const char* path, FileIdentity* identity) {
  struct stat st {};
  if (stat(path, &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  identity->volume = static_cast<uint64_t>(st.st_dev);
  identity->file = static_cast<uint64_t>(st.st_ino);
  return true;
}

bool RemoveAbandonedFile(const char* path) {
  const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat held {}, named {};
  // A writer holds its file locked (FileHandle): a free lock means no live writer.
  const bool abandoned = fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && held.st_uid == geteuid() &&
                         flock(fd, LOCK_EX | LOCK_NB) == 0 && lstat(path, &named) == 0 &&
                         named.st_dev == held.st_dev && named.st_ino == held.st_ino;
  const bool removed = abandoned && unlink(path) == 0;
  close(fd);
  return removed;
}

bool IsLink(const char* path) {
  struct stat st {};
  return lstat(path, &st) == 0 && S_ISLNK(st.st_mode);
}

bool NameTaken(const char* path) {
  struct stat st {};
  return lstat(path, &st) == 0;
}

uint32_t MoveRefusal(const char* to, Replacing replacing) {
  if (replacing == Replacing::Never && NameTaken(to)) return EEXIST;
  if (replacing == Replacing::Writable && IsReadOnly(to)) return EACCES;
  return 0;
}

namespace {

// A move that refuses a taken name where the rename itself cannot (several FUSE and
// network file systems): a second name that must be new, then the first goes; where the
// system has no second names either, the final name is first made ours, created new and
// exclusively, and the rename goes over that. On failure both names are as they were.
uint32_t MoveWithoutRenameRefusal(const char* from, const char* to) {
  if (link(from, to) == 0) {
    if (unlink(from) == 0) return 0;
    const int error = errno;
    unlink(to);  // the new name goes again, so that the failure leaves things as they were
    return static_cast<uint32_t>(error);
  }
  if (errno == EEXIST) return EEXIST;
  const int placeholder = open(to, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (placeholder < 0) return static_cast<uint32_t>(errno);
  close(placeholder);
  if (rename(from, to) == 0) return 0;
  const int error = errno;
  unlink(to);
  return static_cast<uint32_t>(error);
}

}  // namespace

uint32_t MovePath(const char* from, const char* to, Replacing replacing) {
  if (replacing == Replacing::Writable && IsReadOnly(to)) return EACCES;
  if (replacing == Replacing::Never) {
    int refused = -1;
#ifdef RENAME_NOREPLACE  // a C library without the call (the browser's) takes the way below
    refused = renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
    if (refused != 0 && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
      return static_cast<uint32_t>(errno);
#endif
    if (refused != 0) {
      if (const uint32_t status = MoveWithoutRenameRefusal(from, to)) return status;
    }
  } else if (rename(from, to) != 0) {
    return static_cast<uint32_t>(errno);
  }
  // The new name lasts once the folder's entries are on disk. The move has happened
  // whatever the sync says, so its failure (some file systems cannot sync a folder) is
  // not reported as the move's.
  const int folder = open(ContainingFolder(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    fsync(folder);
    close(folder);
  }
  return 0;
}

uint32_t CreateFolder(const char* path) {
  if (mkdir(path, 0777) == 0) return 0;
  const int error = errno;
  struct stat st {};
  if (error == EEXIST && stat(path, &st) == 0 && S_ISDIR(st.st_mode)) return 0;
  return static_cast<uint32_t>(error);
}

void FlushVolume(char) {}

bool ListFiles(const char* folder, std::vector<std::string>* names) {
  names->clear();
  return ForEachEntry(folder, [&](int folderFd, const std::string& name) {
    struct stat st {};
    if (fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) names->push_back(name);
    return true;
  });
}

bool IsFileInUse(const char* path) { return IsReadOnly(path) || IsFileOpen(path); }

bool IsFileOpen(const char* path) {
  struct stat file {};
  if (stat(path, &file) != 0) return false;  // absent: nothing holds it
  char* resolved = realpath(path, nullptr);
  if (!resolved) return false;
  const std::string target = resolved;
  free(resolved);
  // Each process's descriptors are links in /proc/PID/fd. Only what a link says is read
  // (never the file it leads to, which may sit on a network file system that no longer
  // answers); a link that names the file is then confirmed by its identity. Processes and
  // descriptors that cannot be read (other users', ended ones) are passed over.
  bool open = false;
  std::vector<char> link(target.size() + 2);
  ForEachEntry("/proc", [&](int, const std::string& pid) {
    if (!IsNumber(pid)) return true;
    ForEachEntry(("/proc/" + pid + "/fd").c_str(), [&](int fdFolder, const std::string& fd) {
      const ssize_t n = readlinkat(fdFolder, fd.c_str(), link.data(), link.size());
      if (n != static_cast<ssize_t>(target.size()) || target.compare(0, target.size(), link.data(), n) != 0)
        return true;
      struct stat held {};
      open = fstatat(fdFolder, fd.c_str(), &held, 0) == 0 && held.st_dev == file.st_dev &&
             held.st_ino == file.st_ino;
      return !open;
    });
    return !open;
  });
  return open;
}
