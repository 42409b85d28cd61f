#include "platform/private_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

FileStamp IdentityOf(const struct stat& st) {
  FileStamp id;
  id.id.volume = static_cast<uint64_t>(st.st_dev);
  id.id.file = static_cast<uint64_t>(st.st_ino);
  id.size = static_cast<int64_t>(st.st_size);
  id.modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return id;
}

}  // namespace

FolderRefusal PrivateFolder::Open(const std::string& path, uint32_t* code) {
  Close();
  if (code) *code = 0;
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    if (code) *code = static_cast<uint32_t>(errno);
    return FolderRefusal::Missing;
  }
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (code) *code = static_cast<uint32_t>(error);
    // A link in its place fails with ELOOP; a file with ENOTDIR.
    return error == ELOOP || error == ENOTDIR ? FolderRefusal::NotAFolder : FolderRefusal::Missing;
  }
  struct stat st {};
  FolderRefusal refusal = FolderRefusal::None;
  if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode))
    refusal = FolderRefusal::NotAFolder;
  else if (st.st_uid != geteuid())
    refusal = FolderRefusal::NotOwned;
  else if ((st.st_mode & 077) != 0 && fchmod(fd, 0700) != 0)
    refusal = FolderRefusal::NotPrivate;
  if (refusal != FolderRefusal::None) {
    close(fd);
    return refusal;
  }
  m_handle = fd;
  m_path = path;
  return FolderRefusal::None;
}

void PrivateFolder::Close() {
  if (m_handle >= 0) close(static_cast<int>(m_handle));
  m_handle = -1;
}

bool PrivateFolder::IsOpen() const { return m_handle >= 0; }

std::string PrivateFolder::PathOf(const std::string& name) const { return m_path + "/" + name; }

bool PrivateFolder::List(std::vector<std::string>* names) const {
  names->clear();
  if (m_handle < 0) return false;
  // A descriptor of its own for the listing, so the folder's stays where it is.
  const int fd = openat(static_cast<int>(m_handle), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  DIR* dir = fdopendir(fd);
  if (!dir) {
    close(fd);
    return false;
  }
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (fstatat(dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
      names->push_back(name);
  }
  closedir(dir);
  return true;
}

bool PrivateFolder::Stamp(const std::string& name, FileStamp* identity) const {
  struct stat st {};
  if (m_handle < 0 || fstatat(static_cast<int>(m_handle), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(st.st_mode))
    return false;
  *identity = IdentityOf(st);
  return true;
}

uint32_t PrivateFolder::Remove(const std::string& name) const {
  if (m_handle < 0) return EBADF;
  const int folder = static_cast<int>(m_handle);
  struct stat st {};
  if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return static_cast<uint32_t>(errno);
  if (!S_ISREG(st.st_mode)) return EISDIR;
  // Removing a name needs no write permission on the file; the mark only tells the
  // engines' plaintexts, and goes with the name.
  return unlinkat(folder, name.c_str(), 0) == 0 ? 0 : static_cast<uint32_t>(errno);
}

bool CopyOriginMark(const std::string&, const std::string&) { return false; }
std::string OriginMarkName(const std::string&) { return std::string(); }
std::string MarkedFileOf(const std::string&) { return std::string(); }
