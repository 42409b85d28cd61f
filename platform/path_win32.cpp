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

std::string AbsolutePath(const std::string& path) {
  if (path.empty()) return path;
  const std::wstring name = Wide(path);
  const DWORD size = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
  if (size == 0) return path;
  std::wstring full(size, L'\0');
  const DWORD n = GetFullPathNameW(name.c_str(), size, &full[0], nullptr);
  if (n == 0 || n >= size) return path;
  full.resize(n);
  return Utf8(full);
}
