#include "ui/qt/password_form.h"

#include "container/format.h"
#include "container/io.h"
#include "container/system_error_exception.h"
#include "platform/file_handle.h"
#include "crypto/secure.h"
#include "platform/codepage.h"

namespace {

void Wipe(std::string& text) {
  if (!text.empty()) SecureWipe(&text[0], text.size());
}

}  // namespace

std::string CutUtf8(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = limit;
  // Back to the start of the character that would be cut: continuation bytes are 10xxxxxx.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::string CutCp949(const std::string& text, size_t limit) {
  size_t end = 0;
  while (end < text.size()) {
    const size_t length = static_cast<unsigned char>(text[end]) >= 0x81 && end + 1 < text.size() ? 2 : 1;
    if (end + length > limit) break;
    end += length;
  }
  return text.substr(0, end);
}

std::string PromptCp949Form(const std::string& typedUtf8) {
  bool ascii = true;
  for (unsigned char c : typedUtf8) ascii = ascii && c < 0x80;
  std::string converted;
  if (ascii || !Utf8ToCp949(typedUtf8, &converted)) return "";
  std::string cut = CutCp949(converted, kPromptPasswordBytes);
  Wipe(converted);
  return cut;
}
