#include "platform/system_error.h"

#include <cerrno>
#include <cstring>

// The browser build's C library is musl: errno values, and the XSI strerror_r.
uint32_t LastSystemError() { return static_cast<uint32_t>(errno); }
uint32_t EndOfFileError() { return EIO; }
uint32_t DiskFullError() { return ENOSPC; }

std::string SystemErrorText(uint32_t code) {
  char buffer[256] = {};
  if (strerror_r(static_cast<int>(code), buffer, sizeof buffer) != 0 || !*buffer) return "";
  if (std::strncmp(buffer, "No error information", 20) == 0) return "";
  return buffer;
}

void SetLastSystemError(uint32_t code) { errno = static_cast<int>(code); }
