#pragma once
// A thin wrapper over one system file, opened either for reading or for writing.
// Every operation returns a status: 0 for success, kInvalidHandle for a closed object or
// a call that does not fit the mode, kOpenFailed for a second Open, otherwise the
// system's error number. Nothing throws and nothing is buffered: each Read and Write is
// one system call.
//
// The same four open behaviours hold on every system: open an existing file, create a
// file that must not exist, create or replace a file; a file open for reading may be
// read by others meanwhile, a file open for writing is exclusive until closed. A
// read-only file (the read-only attribute on Windows, no write permission bit elsewhere)
// is never opened for writing nor replaced, even for a process that the system would
// let through (root); a directory is never opened. A file is never opened for writing
// through a link (a symbolic link, a reparse point): CreateNew fails with the system's
// file-exists code when the name is taken by anything, a link included, and the other
// dispositions refuse a link.

#include <cstdint>

enum class FileMode : uint8_t { Read = 0, Write = 1 };

// Creation dispositions, with the values of the Windows file functions.
enum class Disposition : uint32_t {
  CreateNew = 1,     // fails with the system's file-exists code when the file exists
  CreateAlways = 2,  // creates, or empties an existing file
  OpenExisting = 3,  // fails with the system's file-not-found code when it is missing
  OpenAlways = 4,
  TruncateExisting = 5,
  // As CreateNew, the file readable and writable by its owner alone from its first
  // moment (0600; on Windows the folder's own access rules, as CreateNew): what an output
  // is written to until it is finished.
  CreateNewPrivate = 101,
};

#ifdef QV3_FILE_FAULTS
// Test builds only (the shipped programs have no such seam): when installed, it is asked
// before each system call of every FileHandle; a non-zero answer fails that call with
// that code and the system is not called (for Flush, the code becomes the thread's last
// system error).
class FileFaults {
 public:
  enum Operation { Open, Read, Write, GetSize, Flush };
  virtual ~FileFaults() = default;
  virtual uint32_t Before(Operation operation, FileMode mode) = 0;
};
// Installs faults (null removes them); returns the previous ones.
FileFaults* InstallFileFaults(FileFaults* faults);
#endif

struct FileIdentity;

class FileHandle {
 public:
  // The codes of FileHandle's own two conditions. Each is a number of the system it runs
  // on, so that the system's own text explains it, and neither is one that a file call
  // there gives for another cause: ERROR_INVALID_HANDLE (6) and ERROR_OPEN_FAILED (110)
  // on Windows; EBADF and EALREADY elsewhere (on Linux 6 and 110 are ENXIO and ETIMEDOUT,
  // real failures of a device or of a network file system).
  static const uint32_t kInvalidHandle;  // closed, or wrong mode
  static const uint32_t kOpenFailed;     // Open on an open object

  FileHandle() = default;
  ~FileHandle();  // closes, discarding the status
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  uint32_t Open(const char* path, FileMode mode, Disposition disposition);
  // The out count is set to 0 first, then to what the system transferred; reaching the
  // end of the file is success with fewer bytes (or none).
  uint32_t Read(void* buffer, uint32_t count, uint32_t* read);
  uint32_t Write(const void* buffer, uint32_t count, uint32_t* written);
  // Leaves *size alone on failure.
  uint32_t GetSize(int64_t* size);
  // Moves the file position to offset bytes from the start (reading only).
  uint32_t Seek(uint64_t offset);
  // Marks the open file read-only (writing only): the mark FileOps' SetReadOnly sets,
  // given to the very file this handle created, whatever its name leads to meanwhile.
  uint32_t MarkReadOnly();
  // Gives the open file (writing only) the permissions of source (an open file) less
  // its write permissions when readOnly, as a finished output takes its input's: POSIX
  // permission bits (never set-user or set-group), and on Windows the read-only mark.
  uint32_t TakePermissionsOf(FileHandle& source, bool readOnly);
  // What tells this file from every other on its volume (see FileIdentity).
  uint32_t Identity(FileIdentity* identity);
  // True when the system accepted the flush; LastSystemError() tells why it did not.
  bool Flush();
  // Flushes a file open for writing, then closes; the first error wins. The object is
  // closed afterwards in every case. Closing a closed object returns 0.
  uint32_t Close();

  bool IsOpen() const { return m_hFile != kNoFile; }
  uint32_t OpenError() const { return m_dwOpenError; }

 private:
  static constexpr intptr_t kNoFile = -1;  // also the value of INVALID_HANDLE_VALUE

  intptr_t m_hFile = kNoFile;  // HANDLE on Windows, descriptor elsewhere
  uint32_t m_dwOpenError = 0;
  FileMode m_mode = FileMode::Read;
};
