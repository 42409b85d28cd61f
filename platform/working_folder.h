#pragma once
// The per-user folder where a plaintext that is only viewed is written. Every call in one
// run yields the same text, so the decryption engine and the viewer find the file again.
//
// Windows: the temporary folder (system major version below 5), else the local
// application-data folder ("Low" appended to its name from version 6 on), without a
// trailing backslash, then "\QV31V" when the product is installed (its registry value
// "Path" can be read) and running (a window of class "Tarvessin" exists), else "\QV3V".
// Elsewhere: $XDG_RUNTIME_DIR, or a private folder under the user's cache folder, then
// "/QV3V".

#include <cstddef>
#include <string>

// Writes the zero-terminated path into dest, which holds length bytes (callers pass 520).
void GetWorkingFolder(size_t length, char* dest);

// Removes one trailing backslash in place, if there is one; returns path.
char* StripTrailingBackslash(char* path);

bool IsProductRegistered();
bool IsProductWindowOpen();

// The rule itself, given what the system reports, for tests on any system: the base
// folder chosen by major version, its trailing backslash removed, then the last component.
// localAppData may be empty when the system could not name it; the temporary folder is
// then used, so the result is always absolute.
std::string ComposeWorkingFolder(unsigned majorVersion, const std::string& tempFolder,
                                 const std::string& localAppData, bool productRegistered,
                                 bool productWindowOpen);
