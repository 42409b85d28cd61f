#pragma once
// The password the prompt hands to the run, and the second form offered for containers
// made on Korean Windows systems, whose passwords were hashed as code page 949 bytes:
// there the prompt took at most the first 11 bytes of what was typed, in that code page.
// Plain C++: the Qt prompt and the front end use it, tests use it without windows.

#include <cstddef>
#include <string>

#include "container/front_end.h"  // kPromptPasswordBytes

// The longest start of text (UTF-8) of at most limit bytes that ends on a character
// boundary.
std::string CutUtf8(const std::string& text, size_t limit);

// The same for code page 949 text (a byte from 0x81 on starts a two-byte character).
std::string CutCp949(const std::string& text, size_t limit);

// The code page 949 bytes the Windows prompt would have taken for the same typed text:
// all of it converted, then cut to 11 bytes. "" when the text is ASCII only (the two
// forms are the same) or holds a character that code page 949 lacks.
std::string PromptCp949Form(const std::string& typedUtf8);
