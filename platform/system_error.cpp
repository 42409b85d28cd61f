#include "platform/system_error.h"

#include <cstring>

std::string AppendSystemErrorText(const std::string& message, uint32_t code) {
  if (code == 0) return message;
  std::string text = SystemErrorText(code);
  if (text.empty()) return message;
  if (const char* cr = std::strchr(text.c_str(), '\r')) text.resize(static_cast<size_t>(cr - text.c_str()));
  return message + ":\n" + text;
}
