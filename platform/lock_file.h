#pragma once
// Lock files: a file its holders keep open for as long as they run, so that any process
// can tell whether a holder is still alive. A holder that ends without releasing (killed,
// power lost, logged off) lets go of the file with its process, and the file stays until
// someone removes it with RemoveUnheldLockFile. Several processes may hold the same lock
// file at once.
//
// Windows: holders keep it open for reading and writing, sharing reading and writing but
// not deletion; a test opens it without sharing. Elsewhere: holders keep a shared flock
// on it; a test takes an exclusive one. Only programs that use these functions agree on
// it, as with every advisory lock.

#include <cstdint>
#include <string>

class LockFile {
 public:
  LockFile() = default;
  ~LockFile() { Release(); }
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

  // Creates the file when it is missing (its folder must exist) and holds it. While
  // another process is removing an unheld lock file of that name, waits (briefly) and
  // holds the new one. False when the file cannot be created or held; nothing is held
  // then. A LockFile holds one file at a time: a second Hold releases the first.
  bool Hold(const char* path);
  // Lets go of the file and removes it unless another holder still has it. Does nothing
  // when nothing is held.
  void Release();
  // Lets go of the file and leaves it, with what was written into it, for whoever comes
  // next (the clean-up of a later run). Does nothing when nothing is held.
  void Leave();
  bool IsHeld() const { return m_handle != kNone; }
  // Writes text into the held file in place of what it held: the record a holder leaves
  // for whoever finds the file once it has died. False when nothing is held or the write
  // failed.
  bool WriteNote(const std::string& text);

 private:
  static constexpr intptr_t kNone = -1;
  intptr_t m_handle = kNone;  // HANDLE on Windows, descriptor elsewhere
  std::string m_path;
};

// True when some process, this one included, holds the lock file at path. False when it
// is missing or no one holds it.
bool IsLockFileHeld(const char* path);

// What a holder last wrote into the lock file at path with WriteNote ("" when nothing, or
// when it is missing or a link; at most 64 KiB are read).
std::string ReadLockFileNote(const char* path);

// Removes the lock file at path when no process holds it, in one step no holder can come
// between. True when it was removed.
bool RemoveUnheldLockFile(const char* path);
