#pragma once
// Which of two encodings of one typed password a job should use: the typed bytes (UTF-8 on
// Linux) or their code page 949 form, which a Korean Windows system hashes. Asked of the
// containers' key blocks only; no data is read and nothing is written.

#include <cstddef>
#include <string>
#include <vector>

// True when the alternate form opens the first container whose key block can tell
// (versions 1 and 2) and the typed form does not. A container the typed form opens, or
// one that neither opens, decides for the typed form; containers that cannot tell
// (version 0, unreadable) are passed over.
bool AlternateOpensFirstContainer(const std::vector<std::string>& paths, const char* typed, size_t typedLength,
                                  const char* alternate, size_t alternateLength);
