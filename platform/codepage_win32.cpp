#include "platform/codepage.h"

#include <windows.h>

#include "platform/wide_win32.h"

#include <climits>
#include <cstring>

namespace {

constexpr UINT kUtf8 = 65001;
constexpr UINT kKorean = 949;

bool ToWide(UINT codePage, const std::string& in, std::wstring* wide) {
  if (in.size() > static_cast<size_t>(INT_MAX)) return false;
  const int inLength = static_cast<int>(in.size());
  const int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), inLength, nullptr, 0);
  if (n <= 0) return false;
  wide->assign(static_cast<size_t>(n), L'\0');
  return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), inLength, &(*wide)[0], n) == n;
}

}  // namespace

bool Utf8ToCp949(const std::string& in, std::string* out) {
  out->clear();
  if (in.empty()) return true;
  std::wstring wide;
  if (!ToWide(kUtf8, in, &wide)) return false;
  const int wideLength = static_cast<int>(wide.size());
  // No best-fit look-alikes and no default character: a character that code page 949
  // lacks is a failure, not a silent '?'.
  BOOL usedDefault = FALSE;
  const int n = WideCharToMultiByte(kKorean, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, nullptr, 0,
                                    nullptr, &usedDefault);
  if (n <= 0 || usedDefault) return false;
  std::string result(static_cast<size_t>(n), '\0');
  usedDefault = FALSE;
  if (WideCharToMultiByte(kKorean, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, &result[0], n, nullptr,
                          &usedDefault) != n ||
      usedDefault) {
    return false;
  }
  out->swap(result);
  return true;
}

bool Cp949ToUtf8(const std::string& in, std::string* out) {
  out->clear();
  if (in.empty()) return true;
  std::wstring wide;
  if (!ToWide(kKorean, in, &wide)) return false;
  const int wideLength = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(kUtf8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  std::string result(static_cast<size_t>(n), '\0');
  if (WideCharToMultiByte(kUtf8, 0, wide.data(), wideLength, &result[0], n, nullptr, nullptr) != n)
    return false;
  out->swap(result);
  return true;
}

unsigned SystemAnsiCodePage() { return GetACP(); }

bool SystemAnsiForm(const std::string& utf8, TextForm* form, std::string* lacking) {
  std::wstring wide;
  if (!utf8.empty() && !ToWide(kUtf8, utf8, &wide)) return false;
  // Character by character (a pair of surrogates is one), as the system's own prompt
  // converts a typed text: its look-alikes and default character included.
  char converted[16], exact[16];
  size_t at = 0;  // in utf8
  for (size_t i = 0; i < wide.size();) {
    const int units = (wide[i] >= 0xD800 && wide[i] <= 0xDBFF && i + 1 < wide.size()) ? 2 : 1;
    const size_t length = Utf8CharacterLength(utf8, at);
    const int n = WideCharToMultiByte(CP_ACP, 0, &wide[i], units, converted, sizeof converted, nullptr, nullptr);
    if (n <= 0 || length == 0) {
      SecureZeroMemory(&wide[0], wide.size() * sizeof(wchar_t));
      return false;
    }
    form->AppendCharacter(converted, static_cast<size_t>(n));
    BOOL usedDefault = FALSE;
    const int m = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, &wide[i], units, exact, sizeof exact, nullptr,
                                      &usedDefault);
    if (lacking && (m != n || usedDefault || std::memcmp(exact, converted, static_cast<size_t>(n)) != 0)) {
      const std::string character = utf8.substr(at, length);
      if (lacking->find(character) == std::string::npos) *lacking += character;
    }
    at += length;
    i += static_cast<size_t>(units);
  }
  SecureZeroMemory(converted, sizeof converted);
  SecureZeroMemory(exact, sizeof exact);
  if (!wide.empty()) SecureZeroMemory(&wide[0], wide.size() * sizeof(wchar_t));
  return true;
}

std::string FoldLetterCase(const std::string& utf8) {
  std::wstring wide;
  if (utf8.empty() || !ToWide(kUtf8, utf8, &wide)) {
    std::string folded = utf8;
    for (char& c : folded)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
  }
  CharLowerBuffW(&wide[0], static_cast<DWORD>(wide.size()));
  return Utf8(wide);
}
