#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>


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
