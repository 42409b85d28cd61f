#pragma once
// The per-user folder where a plaintext that is only viewed is written. Every call in one
// run yields the same text, so the decryption engine and the viewer find the file again.
//
// Windows: the local application-data folder with "Low" appended to its name (the
// sibling folder for low-integrity writes that every supported Windows has), without a
// trailing backslash, then "\QV31V" when the product is installed (its registry value
// "Path" can be read) and running (a window of class "Tarvessin" exists), else "\QV3V".
// When the local application-data folder cannot be named, the temporary folder stands in
// for it, so that the path stays absolute.
// Elsewhere: $XDG_RUNTIME_DIR when it is an absolute path to a folder of this user that
// others cannot enter; else the folder "tarvessin" (created with mode 0700, and never a
// symbolic link) in $XDG_CACHE_HOME or ~/.cache; else /tmp/tarvessin-UID under the same
// conditions; then "/QV3V". Only the base folder is created here; the last level is the
// caller's to create. The product probes are always false there.

#include <cstddef>
#include <string>

// Writes the zero-terminated path into dest, which holds length bytes (callers pass 520).
// A path that does not fit is cut at a character boundary; nothing is written past
// dest[length - 1], and nothing at all when length is 0.
void GetWorkingFolder(size_t length, char* dest);

// GetWorkingFolder's copy into the caller's buffer, for the systems' implementations:
// cut at a character boundary, always terminated, nothing written when length is 0.
void CopyWorkingFolder(const std::string& path, size_t length, char* dest);

// The working folder as a run uses it. The answer depends on the product's probes, which
// may change while a run goes on: each run asks once, at its start, and hands that one
// answer to everything it does (the engine, the viewing, the clean-up).
std::string WorkingFolder();

// Removes one trailing backslash in place, if there is one; returns path. The search is
// multibyte-aware: a double-byte character's trail byte is never taken for it.
char* StripTrailingBackslash(char* path);

// The registry value "Path" under HKEY_LOCAL_MACHINE\SOFTWARE\Belmora\TarvessinKvt can
// be read into 260 bytes. Its content is never used, and the key is only read: asking
// never creates it. The 32-bit registry view is read in every build, where the 32-bit
// product's installer writes.
bool IsProductRegistered();
// A top-level window of class "Tarvessin" exists, the class spelt with exactly this case.
bool IsProductWindowOpen();
// Both: the product is installed and running. The window is looked for only once the
// registry value could be read.
bool IsProductRunning();

// The working folder's own name, on every system: "QV31V" while the product runs, else
// "QV3V".
const char* WorkingFolderName(bool productRunning);

// The Windows rule itself, given what the system reports, for tests on any system: the
// base folder, its trailing backslash removed, then a backslash and the folder's own
// name. localAppData may be empty when the system could not name it; the temporary
// folder is then used, so the result is absolute whenever the system names either
// folder.
std::string ComposeWorkingFolder(const std::string& tempFolder, const std::string& localAppData,
                                 bool productRunning);
