#include "platform/system_error.h"

#include <windows.h>

uint32_t LastSystemError() { return GetLastError(); }
uint32_t EndOfFileError() { return ERROR_HANDLE_EOF; }
uint32_t DiskFullError() { return ERROR_DISK_FULL; }

std::string SystemErrorText(uint32_t code) {
  char* buffer = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text;
  if (n && buffer) text.assign(buffer, n);
  if (buffer) LocalFree(buffer);
  return text;
}

void SetLastSystemError(uint32_t code) { SetLastError(code); }
