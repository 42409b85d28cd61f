#include "platform/lock_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace {

// A remover holds the file's exclusive lock for a moment while it unlinks it.
constexpr int kAttempts = 200;
constexpr auto kPause = std::chrono::milliseconds(10);

int OpenLockFile(const char* path, int flags) {
  int fd;
  do {
    fd = open(path, flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// The descriptor still names the file at path: no remover unlinked it meanwhile.
bool StillNamed(int fd, const char* path) {
  struct stat held {}, named {};
  return fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && lstat(path, &named) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

bool LockFile::Hold(const char* path) {
  Release();
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const int fd = OpenLockFile(path, O_RDWR | O_CREAT);
    if (fd < 0) return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(fd);
      return false;
    }
    if (flock(fd, LOCK_SH | LOCK_NB) == 0) {
      if (StillNamed(fd, path)) {
        m_handle = fd;
        m_path = path;
        return true;
      }
      // A remover unlinked it between the open and the lock: make a new one.
    } else if (errno != EWOULDBLOCK && errno != EINTR) {
      close(fd);
      return false;
    }
    close(fd);
    std::this_thread::sleep_for(kPause);
  }
  return false;
}

void LockFile::Release() {
  if (m_handle == kNone) return;
  close(static_cast<int>(m_handle));
  m_handle = kNone;
  RemoveUnheldLockFile(m_path.c_str());
  m_path.clear();
}

bool IsLockFileHeld(const char* path) {
  const int fd = OpenLockFile(path, O_RDONLY);
  if (fd < 0) return false;
  const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);  // also lets go of the test's own lock
  return held;
}

bool RemoveUnheldLockFile(const char* path) {
  const int fd = OpenLockFile(path, O_RDONLY);
  if (fd < 0) return false;
  // Unlinked while the exclusive lock is held: a holder that opened the file meanwhile
  // finds, once it has its lock, that the name no longer leads to it, and makes a new one.
  const bool removed = flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(fd, path) && unlink(path) == 0;
  close(fd);
  return removed;
}

bool LockFile::WriteNote(const std::string& text) {
  if (m_handle == kNone) return false;
  const int fd = static_cast<int>(m_handle);
  if (ftruncate(fd, 0) != 0) return false;
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return fsync(fd) == 0;
}

std::string ReadLockFileNote(const char* path) {
  const int fd = OpenLockFile(path, O_RDONLY);
  if (fd < 0) return std::string();
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || text.size() + static_cast<size_t>(n) > 65536) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return text;
}

void LockFile::Leave() {
  if (m_handle == kNone) return;
  close(static_cast<int>(m_handle));
  m_handle = kNone;
  m_path.clear();
}
