#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cwctype>
#include <locale.h>


namespace {

// Converts every byte of in, or fails: no substitution, no transliteration.
bool Convert(const char* to, const char* from, const std::string& in, std::string* out) {
  out->clear();
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string result;
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char chunk[256];
  bool ok = true;
  // A null input at the end flushes any shift state the converter keeps.
  for (bool flushing = false;;) {
    char* dst = chunk;
    size_t dstLeft = sizeof chunk;
    const size_t rc = flushing ? iconv(cd, nullptr, nullptr, &dst, &dstLeft)
                               : iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    result.append(chunk, static_cast<size_t>(dst - chunk));
    if (rc == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      ok = false;  // EILSEQ: invalid or unconvertible; EINVAL: cut-off sequence
      break;
    }
    // A positive count means characters were replaced by look-alikes.
    if (rc != 0) {
      ok = false;
      break;
    }
    if (flushing) break;
    flushing = true;
  }
  iconv_close(cd);
  if (ok) out->swap(result);
  return ok;
}

}  // namespace

bool Utf8ToCp949(const std::string& in, std::string* out) { return Convert("CP949", "UTF-8", in, out); }
bool Cp949ToUtf8(const std::string& in, std::string* out) { return Convert("UTF-8", "CP949", in, out); }

unsigned SystemAnsiCodePage() { return 0; }
bool SystemAnsiForm(const std::string&, TextForm*, std::string*) { return false; }

namespace {

void AppendCodePoint(unsigned long cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | cp >> 6));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | cp >> 12));
    out->push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | cp >> 18));
    out->push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::string FoldLetterCase(const std::string& utf8) {
  // The C library's Unicode case mapping, whatever the process's own locale.
  static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  std::string out;
  for (size_t at = 0; at < utf8.size();) {
    const size_t n = Utf8CharacterLength(utf8, at);
    const unsigned char lead = static_cast<unsigned char>(utf8[at]);
    if (n <= 1 || !unicode) {  // ASCII, or a byte that is not UTF-8
      out.push_back(static_cast<char>(lead >= 'A' && lead <= 'Z' ? lead - 'A' + 'a' : lead));
      at += 1;
      continue;
    }
    unsigned long cp = lead & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) cp = cp << 6 | (static_cast<unsigned char>(utf8[at + k]) & 0x3F);
    AppendCodePoint(static_cast<unsigned long>(towlower_l(static_cast<wint_t>(cp), unicode)), &out);
    at += n;
  }
  return out;
}
