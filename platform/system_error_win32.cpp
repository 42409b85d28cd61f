#include "platform/system_error.h"

#include <windows.h>

#include "platform/wide_win32.h"

uint32_t LastSystemError() { return GetLastError(); }
uint32_t EndOfFileError() { return ERROR_HANDLE_EOF; }
uint32_t DiskFullError() { return ERROR_DISK_FULL; }

std::string SystemErrorText(uint32_t code) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text;
  if (n && buffer) text = Utf8(buffer, n);
  if (buffer) LocalFree(buffer);
  return text;
}

void SetLastSystemError(uint32_t code) { SetLastError(code); }

uint32_t FileExistsError() { return ERROR_FILE_EXISTS; }

FileErrorClass ClassifyFileError(uint32_t code) {
  switch (code) {
    case ERROR_SUCCESS: return FileErrorClass::None;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME: return FileErrorClass::Absent;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE: return FileErrorClass::InUse;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: return FileErrorClass::Denied;
    default: return FileErrorClass::Other;
  }
}
