#include "platform/text.h"

#include <cstdarg>
#include <cstdio>

#include "platform/codepage.h"  // Utf8CharacterLength

namespace {

unsigned char FoldAscii(unsigned char b) {
  return (b >= 'A' && b <= 'Z') ? static_cast<unsigned char>(b + ('a' - 'A')) : b;
}

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

}  // namespace

int CompareIgnoringAsciiCase(const char* a, const char* b) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
  for (;; ++p, ++q) {
    const int x = FoldAscii(*p), y = FoldAscii(*q);
    if (x != y || x == 0) return x - y;
  }
}

std::string CutUtf8(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = limit;
  // Back to the start of the character that would be cut.
  while (end > 0 && IsContinuation(static_cast<unsigned char>(text[end]))) --end;
  return text.substr(0, end);
}

std::string EscapeControls(const std::string& text, bool keepLineBreaks, bool escapeBackslash) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    size_t n = Utf8CharacterLength(text, at);
    const bool control = (c < 0x20 && !(keepLineBreaks && (c == '\r' || c == '\n'))) || c == 0x7F ||
                         (escapeBackslash && c == '\\') ||
                         (n == 2 && c == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0);
    if (n == 0 || control) {
      if (n == 0) n = 1;
      for (size_t i = 0; i < n; ++i) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(text[at + i]));
        out += hex;
      }
    } else {
      out.append(text, at, n);
    }
    at += n;
  }
  return out;
}

size_t Utf16Length(const std::string& text) {
  size_t units = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    if (IsContinuation(b)) continue;
    units += b >= 0xF0 ? 2 : 1;  // four bytes: a character beyond the first plane, a pair
  }
  return units;
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(&text[0], text.size() + 1, format, again);
  va_end(again);
  return text;
}
