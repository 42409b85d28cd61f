#pragma once
// The system's error numbers: GetLastError values on Windows, errno values elsewhere.

#include <cstdint>
#include <string>

// The calling thread's last system error.
uint32_t LastSystemError();

// The code reported when a file ends before the bytes its size promised (the file
// changed while it was read), and when a write makes no progress (disk full).
uint32_t EndOfFileError();
uint32_t DiskFullError();

// The system's own text for code, or "" when it has none. May end in a line break.
std::string SystemErrorText(uint32_t code);

// The text of an error notice: message, then for a non-zero code that the system can
// explain ":\n" and the system's text up to its first carriage return.
std::string AppendSystemErrorText(const std::string& message, uint32_t code);

// Sets the calling thread's last system error (SetLastError / errno).
void SetLastSystemError(uint32_t code);

// What a failed file call's code says about the file: the one place, per system, that
// reads the system's codes, so that every decision made on a failure (whether a file is
// there, whether some program holds it) reads them alike. The codes themselves still
// travel into the messages as the system gave them.
enum class FileErrorClass {
  None,    // 0: no failure
  Absent,  // the file or a folder of its path does not exist
  InUse,   // another program holds it in a way that excludes the call
  Denied,  // the call is not permitted (permissions, a read-only mark or medium)
  Other,
};
FileErrorClass ClassifyFileError(uint32_t code);

// The code a creation gives for a name already taken (ERROR_FILE_EXISTS, EEXIST).
uint32_t FileExistsError();
