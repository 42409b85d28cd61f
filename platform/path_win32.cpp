#include "platform/path.h"

#include <windows.h>

#include "platform/wide_win32.h"

PathKind LookUpPath(const char* path) {
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(Wide(path).c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return PathKind::Missing;
  FindClose(h);
  return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory : PathKind::File;
}

bool PathExists(const char* path) {
  if (path[0] == '\0' || path[1] == '\0' || path[2] == '\0') {
    if (path[0] == '\0' || path[1] != ':') return false;
    wchar_t root[] = L"A:\\";
    root[0] = static_cast<unsigned char>(path[0]) < 0x80 ? static_cast<wchar_t>(path[0]) : L'?';
    const UINT type = GetDriveTypeW(root);
    return type >= DRIVE_REMOVABLE && type <= DRIVE_RAMDISK;
  }
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(Wide(path).c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return true;
}
