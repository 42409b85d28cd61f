#include "platform/path.h"

#include <windows.h>

PathKind LookUpPath(const char* path) {
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(path, &data);
  if (h == INVALID_HANDLE_VALUE) return PathKind::Missing;
  FindClose(h);
  return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory : PathKind::File;
}
