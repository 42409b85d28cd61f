#include "platform/path.h"

#include <windows.h>

PathKind LookUpPath(const char* path) {
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(path, &data);
  if (h == INVALID_HANDLE_VALUE) return PathKind::Missing;
  FindClose(h);
  return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory : PathKind::File;
}

bool PathExists(const char* path) {
  if (path[0] == '\0' || path[1] == '\0' || path[2] == '\0') {
    if (path[0] == '\0' || path[1] != ':') return false;
    char root[] = "A:\\";
    root[0] = path[0];
    const UINT type = GetDriveTypeA(root);
    return type >= DRIVE_REMOVABLE && type <= DRIVE_RAMDISK;
  }
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(path, &data);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return true;
}
