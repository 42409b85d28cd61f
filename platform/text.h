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

// Text fit for a terminal or a log: every control character (C0, DEL, and C1 such as the
// one-character CSI, each of which could start a sequence the terminal obeys) and every
// byte that is not part of UTF-8 is written as \xNN instead, byte by byte. Names come from
// others: every name a program writes goes through this. keepLineBreaks keeps CR and LF
// (a message's own line breaks); escapeBackslash writes '\' as \x5C too, so that text
// quoted from a file cannot pass for an escape.
std::string EscapeControls(const std::string& text, bool keepLineBreaks = false, bool escapeBackslash = false);

// How many UTF-16 units the text takes (Windows counts its path limits in these).
size_t Utf16Length(const std::string& text);

// printf's formatting into a string (a translated text's placeholders filled in).
std::string Format(const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 1, 2)))
#endif
    ;
