#include "platform/codepage.h"


namespace {

// The platform layer sits below crypto: its own wipe, never optimised away.
void Wipe(std::string& text) {
  volatile char* p = text.empty() ? nullptr : &text[0];
  for (size_t i = 0; i < text.size(); ++i) p[i] = 0;
}

}  // namespace

TextForm::~TextForm() {
  Wipe(m_bytes);
}

void TextForm::AppendCharacter(const char* bytes, size_t length) {
  m_bytes.append(bytes, length);
  m_ends.push_back(m_bytes.size());
}

size_t TextForm::CharactersWithin(size_t limit) const {
  size_t n = 0;
  while (n < m_ends.size() && m_ends[n] <= limit) ++n;
  return n;
}

size_t Utf8CharacterLength(const std::string& text, size_t at) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned c = byte(at);
  size_t n;
  unsigned long cp, min;
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) {
    n = 2, cp = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    n = 3, cp = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    n = 4, cp = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (at + n > text.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((byte(at + k) & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (byte(at + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

bool Utf8Form(const std::string& utf8, TextForm* form) {
  for (size_t i = 0; i < utf8.size();) {
    const size_t n = Utf8CharacterLength(utf8, i);
    if (n == 0) return false;
    form->AppendCharacter(&utf8[i], n);
    i += n;
  }
  return true;
}

bool Cp949Form(const std::string& utf8, TextForm* form, std::string* lacking) {
  bool exact = true;
  std::string character, converted;
  for (size_t i = 0; i < utf8.size();) {
    const size_t n = Utf8CharacterLength(utf8, i);
    if (n == 0) return false;
    character.assign(utf8, i, n);
    i += n;
    if (n == 1) {
      form->AppendCharacter(character.data(), 1);
    } else if (Utf8ToCp949(character, &converted)) {
      form->AppendCharacter(converted.data(), converted.size());
    } else {
      exact = false;
      if (lacking && lacking->find(character) == std::string::npos) *lacking += character;
    }
  }
  Wipe(character);
  Wipe(converted);
  return exact;
}
