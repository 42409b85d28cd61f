#pragma once
// Windows only. The programs hold text as UTF-8; the system's wide (W) calls take UTF-16.
// Everything in platform/*_win32 and ui/win32 converts at the call, so any name Windows
// can hold works and every text reads the same on every Windows locale.

#include <string>

// A byte sequence that is not UTF-8 becomes U+FFFD, which no file name holds: a mangled
// name is refused by the system, never taken for another one.
std::wstring Wide(const std::string& utf8);
std::string Utf8(const wchar_t* wide, size_t length);
inline std::string Utf8(const std::wstring& wide) { return Utf8(wide.data(), wide.size()); }
inline std::string Utf8(const wchar_t* wide) { return Utf8(std::wstring(wide ? wide : L"")); }
