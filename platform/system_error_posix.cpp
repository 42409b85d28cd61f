#include "platform/system_error.h"

#include <cerrno>
#include <cstring>

uint32_t LastSystemError() { return static_cast<uint32_t>(errno); }
uint32_t EndOfFileError() { return EIO; }
uint32_t DiskFullError() { return ENOSPC; }

std::string SystemErrorText(uint32_t code) {
  char buffer[256] = {};
  // The GNU strerror_r may return a static string instead of filling the buffer.
  const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
  if (!text || !*text) return "";
  if (std::strncmp(text, "Unknown error", 13) == 0) return "";
  return text;
}

void SetLastSystemError(uint32_t code) { errno = static_cast<int>(code); }

uint32_t FileExistsError() { return EEXIST; }

FileErrorClass ClassifyFileError(uint32_t code) {
  switch (code) {
    case 0: return FileErrorClass::None;
    case ENOENT:
    case ENOTDIR: return FileErrorClass::Absent;
    case EBUSY:
    case ETXTBSY:
    case EWOULDBLOCK: return FileErrorClass::InUse;
    case EACCES:
    case EPERM:
    case EROFS: return FileErrorClass::Denied;
    default: return FileErrorClass::Other;
  }
}
