#pragma once
// File-system operations the engines need around FileHandle. Status codes as FileHandle:
// 0 for success, otherwise the system's error number.

#include <cstddef>
#include <cstdint>

// '\' on Windows, '/' elsewhere.
extern const char kPathSeparator;
// The longest path the engines accept, in bytes, terminator included (260 on Windows).
extern const size_t kMaxPathBytes;

uint32_t DeletePath(const char* path);
// Read-only: the read-only attribute on Windows, no write permission bits elsewhere.
// Normal: attributes cleared on Windows, the owner's write bit restored elsewhere.
uint32_t SetReadOnly(const char* path, bool readOnly);
// Moves from onto to, replacing a file there, and makes the move durable.
uint32_t ReplacePath(const char* from, const char* to);
// Creates one folder level; an existing folder is fine. Failures are the caller's to ignore.
uint32_t CreateFolder(const char* path);
// Asks the system to flush the volume of the given drive letter; every failure is
// ignored (without administrative rights nothing happens). Does nothing elsewhere.
void FlushVolume(char driveLetter);
