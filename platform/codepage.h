#pragma once
// Code page 949 (Korean Windows' ANSI code page) from and to UTF-8.

#include <string>

// Exact conversions only: no look-alike or default character is ever substituted.
// On failure *out is empty.

// False when in is not valid UTF-8 or holds a character code page 949 lacks.
bool Utf8ToCp949(const std::string& in, std::string* out);
// False when in is not valid code page 949 text (a lone lead byte, an unassigned code).
bool Cp949ToUtf8(const std::string& in, std::string* out);
