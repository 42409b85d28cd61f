#include "platform/codepage.h"

namespace {

// The converted password's whole copy goes before its memory is given back.
void Wipe(std::string& text) {
  volatile char* p = &text[0];
  for (size_t i = 0; i < text.size(); ++i) p[i] = 0;
}

}  // namespace

std::string CutCp949(const std::string& text, size_t limit) {
  size_t end = 0;
  while (end < text.size()) {
    const size_t length = static_cast<unsigned char>(text[end]) >= 0x81 && end + 1 < text.size() ? 2 : 1;
    if (end + length > limit) break;
    end += length;
  }
  return text.substr(0, end);
}

std::string Cp949PasswordBytes(const std::string& utf8, size_t limit) {
  bool ascii = true;
  for (unsigned char c : utf8) ascii = ascii && c < 0x80;
  std::string converted;
  if (ascii || !Utf8ToCp949(utf8, &converted)) return "";
  std::string cut = CutCp949(converted, limit);
  if (!converted.empty()) Wipe(converted);
  return cut;
}
