#include "platform/file_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

const char kPathSeparator = '/';
const size_t kMaxPathBytes = 4096;

namespace {

uint32_t Status(int rc) { return rc == 0 ? 0 : static_cast<uint32_t>(errno); }

// A file (not a link or folder) without any write permission bit: read-only in the
// sense of SetReadOnly, which the system would still let root change.
bool IsReadOnlyFile(const char* path) {
  struct stat st {};
  return lstat(path, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0;
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

uint32_t DeletePath(const char* path) {
  if (IsReadOnlyFile(path)) return EACCES;
  return Status(unlink(path));
}

uint32_t SetReadOnly(const char* path, bool readOnly) {
  struct stat st {};
  if (stat(path, &st) != 0) return static_cast<uint32_t>(errno);
  const mode_t mode = readOnly ? (st.st_mode & ~static_cast<mode_t>(0222)) : (st.st_mode | S_IWUSR);
  return Status(chmod(path, mode & 07777));
}

uint32_t ReplacePath(const char* from, const char* to) {
  if (IsReadOnlyFile(to)) return EACCES;
  if (rename(from, to) != 0) return static_cast<uint32_t>(errno);
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
