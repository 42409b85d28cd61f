#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_faults.h"
#include "platform/file_handle.h"
#include "platform/file_ops.h"
#include "platform/system_error.h"

namespace {

uint32_t Errno() { return static_cast<uint32_t>(errno); }

}  // namespace

// What the system itself says of a descriptor that is closed or not open for the call;
// and a code that opening a file never gives.
const uint32_t FileHandle::kInvalidHandle = EBADF;
const uint32_t FileHandle::kOpenFailed = EALREADY;

FileHandle::~FileHandle() { Close(); }

uint32_t FileHandle::Open(const char* path, FileMode mode, Disposition disposition) {
  if (IsOpen()) return kOpenFailed;
  m_mode = mode;
  m_dwOpenError = 0;
  if (const uint32_t fault = InjectedFault(FileCall::Open, mode)) return m_dwOpenError = fault;

  const bool write = mode == FileMode::Write;
  // Never written through a link: O_NOFOLLOW refuses one at the last component, and
  // O_EXCL (CreateNew) refuses any name already taken, a dangling link included.
  int flags = O_CLOEXEC | (write ? O_WRONLY | O_NOFOLLOW : O_RDONLY);
  bool truncate = false;
  switch (disposition) {
    case Disposition::CreateNew:
    case Disposition::CreateNewPrivate: flags |= O_CREAT | O_EXCL; break;
    case Disposition::CreateAlways: flags |= O_CREAT; truncate = true; break;
    case Disposition::OpenExisting: break;
    case Disposition::OpenAlways: flags |= O_CREAT; break;
    case Disposition::TruncateExisting: truncate = true; break;
    default: return m_dwOpenError = EINVAL;
  }

  // Was the file there before? A file we create ourselves is never refused as read-only.
  struct stat before {};
  const bool existed = lstat(path, &before) == 0;

  int fd;
  do {
    fd = ::open(path, flags, disposition == Disposition::CreateNewPrivate ? 0600 : 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return m_dwOpenError = Errno();

  auto fail = [&](uint32_t code) {
    ::close(fd);
    return m_dwOpenError = code;
  };
  struct stat st {};
  if (fstat(fd, &st) != 0) return fail(Errno());
  if (S_ISDIR(st.st_mode)) return fail(EISDIR);
  // Root may write anything; a file without write permission is refused all the same.
  if (write && existed && disposition != Disposition::CreateNew && disposition != Disposition::CreateNewPrivate &&
      (st.st_mode & 0222) == 0)
    return fail(EACCES);
  // Shared reading, exclusive writing, among the programs that ask (as this one does).
  if (flock(fd, (write ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0)
    return fail(errno == EWOULDBLOCK ? EBUSY : Errno());
  if (truncate && write && ftruncate(fd, 0) != 0) return fail(Errno());
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

  m_hFile = fd;
  return 0;
}

uint32_t FileHandle::Read(void* buffer, uint32_t count, uint32_t* read) {
  *read = 0;
  if (!IsOpen() || m_mode == FileMode::Write) return kInvalidHandle;
  if (const uint32_t fault = InjectedFault(FileCall::Read, m_mode)) return fault;
  ssize_t n;
  do {
    n = ::read(static_cast<int>(m_hFile), buffer, count);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return Errno();
  *read = static_cast<uint32_t>(n);
  return 0;
}

uint32_t FileHandle::Write(const void* buffer, uint32_t count, uint32_t* written) {
  *written = 0;
  if (!IsOpen() || m_mode == FileMode::Read) return kInvalidHandle;
  if (const uint32_t fault = InjectedFault(FileCall::Write, m_mode)) return fault;
  ssize_t n;
  do {
    n = ::write(static_cast<int>(m_hFile), buffer, count);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return Errno();
  *written = static_cast<uint32_t>(n);
  return 0;
}

uint32_t FileHandle::GetSize(int64_t* size) {
  if (!IsOpen() || m_mode == FileMode::Write) return kInvalidHandle;
  if (const uint32_t fault = InjectedFault(FileCall::GetSize, m_mode)) return fault;
  struct stat st {};
  if (fstat(static_cast<int>(m_hFile), &st) != 0) return Errno();
  *size = st.st_size;
  return 0;
}

uint32_t FileHandle::Seek(uint64_t offset) {
  if (!IsOpen() || m_mode == FileMode::Write) return kInvalidHandle;
  if (lseek(static_cast<int>(m_hFile), static_cast<off_t>(offset), SEEK_SET) < 0) return Errno();
  return 0;
}

uint32_t FileHandle::MarkReadOnly() {
  if (!IsOpen() || m_mode == FileMode::Read) return kInvalidHandle;
  struct stat st {};
  const int fd = static_cast<int>(m_hFile);
  if (fstat(fd, &st) != 0) return Errno();
  if (fchmod(fd, st.st_mode & 07777 & ~static_cast<mode_t>(0222)) != 0) return Errno();
  return 0;
}

uint32_t FileHandle::TakePermissionsOf(FileHandle& source, bool readOnly) {
  if (!IsOpen() || m_mode == FileMode::Read || !source.IsOpen()) return kInvalidHandle;
  struct stat st {};
  if (fstat(static_cast<int>(source.m_hFile), &st) != 0) return Errno();
  const mode_t mode = st.st_mode & (readOnly ? 0555 : 0777);
  if (fchmod(static_cast<int>(m_hFile), mode) != 0) return Errno();
  return 0;
}

uint32_t FileHandle::Identity(FileIdentity* identity) {
  if (!IsOpen()) return kInvalidHandle;
  struct stat st {};
  if (fstat(static_cast<int>(m_hFile), &st) != 0) return Errno();
  identity->volume = static_cast<uint64_t>(st.st_dev);
  identity->file = static_cast<uint64_t>(st.st_ino);
  return 0;
}

bool FileHandle::Flush() {
  if (!IsOpen()) return false;
  if (const uint32_t fault = InjectedFault(FileCall::Flush, m_mode)) {
    SetLastSystemError(fault);
    return false;
  }
  return fsync(static_cast<int>(m_hFile)) == 0;
}

uint32_t FileHandle::Close() {
  if (!IsOpen()) return 0;
  uint32_t status = 0;
  if (m_mode == FileMode::Write && !Flush()) status = LastSystemError();
  if (::close(static_cast<int>(m_hFile)) != 0 && status == 0) status = Errno();
  m_hFile = kNoFile;
  return status;
}
