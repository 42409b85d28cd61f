#pragma once
// Code page 949 (Korean Windows' ANSI code page) from and to UTF-8, and the bytes a
// typed password is hashed as.

#include <cstddef>
#include <string>

// Exact conversions only: no look-alike or default character is ever substituted.
// On failure *out is empty.

// False when in is not valid UTF-8 or holds a character code page 949 lacks.
bool Utf8ToCp949(const std::string& in, std::string* out);
// False when in is not valid code page 949 text (a lone lead byte, an unassigned code).
bool Cp949ToUtf8(const std::string& in, std::string* out);

// The bytes this system hashes a typed password as (the text given as UTF-8), at most
// limit of them, never half a character. Windows: the ANSI code page, a character it
// lacks becoming the system's default character, as the viewer's prompt has always
// converted it (so every container keyed on a Korean system opens with the same typing
// there). Elsewhere: the UTF-8 text itself.
std::string TypedPasswordBytes(const std::string& utf8, size_t limit);

// The same typed text as a Korean Windows system hashes it: its code page 949 bytes, at
// most limit of them, never half a character. "" when the text is ASCII only (the forms
// are the same) or holds a character code page 949 lacks.
std::string Cp949PasswordBytes(const std::string& utf8, size_t limit);

// The longest start of code page 949 text of at most limit bytes that ends on a
// character boundary (a byte from 0x81 on starts a two-byte character).
std::string CutCp949(const std::string& text, size_t limit);
