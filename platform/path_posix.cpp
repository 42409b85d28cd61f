#include "platform/path.h"

#include <sys/stat.h>

PathKind LookUpPath(const char* path) {
  struct stat st {};
  if (stat(path, &st) != 0) return PathKind::Missing;
  return S_ISDIR(st.st_mode) ? PathKind::Directory : PathKind::File;
}

bool PathExists(const char* path) {
  struct stat st {};
  return stat(path, &st) == 0;
}
