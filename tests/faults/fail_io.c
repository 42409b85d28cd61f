// Preloaded into a program (LD_PRELOAD) to make its real system calls on one file fail
// with a chosen error number, so that a test sees what a user sees when a device or a
// network file system fails. Driven by the environment:
//
//   QV3_FAIL_PATH    the file (any name that resolves to it)
//   QV3_FAIL_CALL    "open": every open of the file fails;
//                    "read": every read of it that starts at or after QV3_FAIL_OFFSET;
//                    "unlink": every removal of its name fails;
//                    "noreplace": a file system without a rename that refuses a taken
//                    name or second names (several FUSE ones): every renameat2 with flags
//                    fails with EINVAL and every link with the error number, whatever
//                    the path
//   QV3_FAIL_ERRNO   the error number the call fails with
//   QV3_FAIL_OFFSET  for "read": the file position from which reads fail (default 0)
//
// Every other call, and every call of a program run without QV3_FAIL_PATH, goes to the
// C library unchanged.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

enum Call { kNone, kOpen, kRead, kUnlink, kNoReplace };

static enum Call g_call = kNone;
static char g_target[PATH_MAX];
static int g_errno;
static off_t g_offset;

__attribute__((constructor)) static void Configure(void) {
  const char* path = getenv("QV3_FAIL_PATH");
  const char* call = getenv("QV3_FAIL_CALL");
  const char* error = getenv("QV3_FAIL_ERRNO");
  const char* offset = getenv("QV3_FAIL_OFFSET");
  if (!path || !call || !error || !realpath(path, g_target)) return;
  g_errno = atoi(error);
  g_offset = offset ? (off_t)atoll(offset) : 0;
  if (strcmp(call, "open") == 0) g_call = kOpen;
  if (strcmp(call, "read") == 0) g_call = kRead;
  if (strcmp(call, "unlink") == 0) g_call = kUnlink;
  if (strcmp(call, "noreplace") == 0) g_call = kNoReplace;
}

static int IsTarget(const char* path) {
  char resolved[PATH_MAX];
  return path && realpath(path, resolved) && strcmp(resolved, g_target) == 0;
}

static int OpensTarget(int dirfd, const char* path) {
  if (g_call != kOpen) return 0;
  if (dirfd == AT_FDCWD || (path && path[0] == '/')) return IsTarget(path);
  char joined[PATH_MAX];
  snprintf(joined, sizeof joined, "/proc/self/fd/%d/%s", dirfd, path);
  return IsTarget(joined);
}

static int ReadsTarget(int fd) {
  if (g_call != kRead) return 0;
  char link[64], resolved[PATH_MAX];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, resolved, sizeof resolved - 1);
  if (n <= 0) return 0;
  resolved[n] = '\0';
  return strcmp(resolved, g_target) == 0 && lseek(fd, 0, SEEK_CUR) >= g_offset;
}

static int Fail(void) {
  errno = g_errno;
  return -1;
}

static void* Next(const char* name) { return dlsym(RTLD_NEXT, name); }

// open and openat, in every spelling the C library's headers may have turned a call into.
#define OPEN_MODE(flags)                       \
  mode_t mode = 0;                             \
  if ((flags) & (O_CREAT | O_TMPFILE)) {       \
    va_list args;                              \
    va_start(args, flags);                     \
    mode = (mode_t)va_arg(args, unsigned int); \
    va_end(args);                              \
  }

#define DEFINE_OPEN(name)                                                    \
  int name(const char* path, int flags, ...) {                               \
    OPEN_MODE(flags)                                                         \
    if (OpensTarget(AT_FDCWD, path)) return Fail();                          \
    return ((int (*)(const char*, int, ...))Next(#name))(path, flags, mode); \
  }
#define DEFINE_OPENAT(name)                                                              \
  int name(int dirfd, const char* path, int flags, ...) {                                \
    OPEN_MODE(flags)                                                                     \
    if (OpensTarget(dirfd, path)) return Fail();                                         \
    return ((int (*)(int, const char*, int, ...))Next(#name))(dirfd, path, flags, mode); \
  }
#define DEFINE_OPEN_2(name)                                       \
  int name(const char* path, int flags) {                         \
    if (OpensTarget(AT_FDCWD, path)) return Fail();               \
    return ((int (*)(const char*, int))Next(#name))(path, flags); \
  }

DEFINE_OPEN(open)
DEFINE_OPEN(open64)
DEFINE_OPENAT(openat)
DEFINE_OPENAT(openat64)
DEFINE_OPEN_2(__open_2)
DEFINE_OPEN_2(__open64_2)

ssize_t read(int fd, void* buffer, size_t count) {
  if (ReadsTarget(fd)) return Fail();
  return ((ssize_t(*)(int, void*, size_t))Next("read"))(fd, buffer, count);
}

ssize_t __read_chk(int fd, void* buffer, size_t count, size_t size) {
  if (ReadsTarget(fd)) return Fail();
  return ((ssize_t(*)(int, void*, size_t, size_t))Next("__read_chk"))(fd, buffer, count, size);
}

int unlink(const char* path) {
  if (g_call == kUnlink && IsTarget(path)) return Fail();
  return ((int (*)(const char*))Next("unlink"))(path);
}

int unlinkat(int dirfd, const char* path, int flags) {
  if (g_call == kUnlink && dirfd == AT_FDCWD && IsTarget(path)) return Fail();
  return ((int (*)(int, const char*, int))Next("unlinkat"))(dirfd, path, flags);
}

int renameat2(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, unsigned int flags) {
  if (g_call == kNoReplace && flags != 0) {
    errno = EINVAL;
    return -1;
  }
  return ((int (*)(int, const char*, int, const char*, unsigned int))Next("renameat2"))(olddirfd, oldpath, newdirfd,
                                                                                      newpath, flags);
}

int link(const char* oldpath, const char* newpath) {
  if (g_call == kNoReplace) return Fail();
  return ((int (*)(const char*, const char*))Next("link"))(oldpath, newpath);
}

int linkat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, int flags) {
  if (g_call == kNoReplace) return Fail();
  return ((int (*)(int, const char*, int, const char*, int))Next("linkat"))(olddirfd, oldpath, newdirfd, newpath,
                                                                             flags);
}
