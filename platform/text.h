#pragma once
// Text as every program here holds it, paths and messages alike: UTF-8. A byte search
// for '\', '/' or '.' is exact on it, since no byte of a multibyte character is ASCII;
// only cutting text needs to know where characters end.

#include <cstddef>
#include <string>

// Compares ignoring the case of ASCII letters; every other byte exactly. <0, 0 or >0.
int CompareIgnoringAsciiCase(const char* a, const char* b);

// The longest start of text of at most limit bytes that ends on a character boundary.
std::string CutUtf8(const std::string& text, size_t limit);

// How many UTF-16 units the text takes (Windows counts its path limits in these).
size_t Utf16Length(const std::string& text);

// printf's formatting into a string (a translated text's placeholders filled in).
std::string Format(const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 1, 2)))
#endif
    ;
