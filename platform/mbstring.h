#pragma once
// Searches and comparisons in the system's multibyte code page. On Windows that is the
// ANSI code page (949 on Korean systems), whose double-byte characters may carry an ASCII
// byte as their second byte: these functions never take such a trail byte for '\', '/',
// '.' or a letter. On other systems text is UTF-8, where no byte of a multibyte
// character is ASCII, so a plain byte scan is already exact.

#include <cstddef>

// True when b starts a double-byte character in the system's code page.
bool IsLeadByte(unsigned char b);

// First / last occurrence of the ASCII character c in s, or nullptr.
const char* MbsChr(const char* s, char c);
const char* MbsRChr(const char* s, char c);

// Compares two texts ignoring the case of ASCII letters; double-byte characters are
// compared exactly. Returns <0, 0 or >0.
int MbsICmp(const char* a, const char* b);

// Copies at most n bytes of src into dst without splitting a double-byte character and
// always terminates dst (dst holds n + 1 bytes). Returns dst.
char* MbsBoundedCopy(char* dst, const char* src, size_t n);
