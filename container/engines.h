#pragma once
// The two engines: every file of a list, in order, on the calling (worker) thread, with
// one progress view for the run. The first failure, or Cancel, ends the run: that file's
// output is removed and the files after it are not touched. Every failure is shown
// through the front end at once; what became of each file is returned, so that no caller
// ever takes a file's presence for the engine's success.
//
// Files move in large chunks through FileHandle; the checks, their order, the messages
// and codes, progress and what is left on disk are those of one block at a time. Every
// output is written to a temporary file created new beside it and put in place once
// complete (OutputFile): nothing is ever written through a name or link the engine did
// not create.

#include <cstdint>
#include <string>
#include <vector>

#include "container/file_list.h"
#include "container/front_end.h"
#include "container/naming.h"  // kPartialSuffix

class Lock;
class PasswordCandidates;
class RandomSource;

// What became of one file of a job.
enum class FileOutcome : uint8_t {
  NotStarted,  // an earlier failure or Cancel ended the run before it
  Done,        // its output is complete, under its final name and on the disk
  Failed,      // a failure was reported for it; no output of it was left, but for a
               // source --delete-source could not remove: its complete output stays
  Cancelled,   // the user stopped the run while it was worked on; no output was left
};
// One outcome per file, in the order the list held them.
using JobOutcome = std::vector<FileOutcome>;

struct DecryptOptions {
  bool deleteSource = false;    // remove each container once its plaintext is in place
  bool toWorkingFolder = false; // the plaintext goes into workingFolder, not beside
  std::string workingFolder;    // the run's working folder, resolved once by its caller
  // Beside the container an existing file is never replaced unless this is set (then
  // even a read-only one is). The working folder is the viewer's own: a file there is
  // replaced unless it is read-only (a plaintext a running viewer shows).
  bool overwrite = false;
  // A list of one container: the plaintext's path, whatever the container is named. Its
  // folder must exist; it is replaced only as a file beside the container would be.
  // An output that is the container itself (the same file, however it is spelt) is
  // refused.
  std::string outputPath;
  // A failed file does not end the run (Cancel still does): the desktop's "Decrypt here"
  // tries every container and reports every failure.
  bool continuePastFailures = false;
};

// Turns each container of files into its plaintext, read-only after success: beside the
// container, or in the working folder (created when missing). The plaintext appears
// under its final name only once the container has authenticated, so a file already
// there survives every failure. password: a writable buffer of at least 256 bytes
// holding a zero-terminated password; its first 256 bytes are zeroed before the call
// returns, on every path. keyScheduleLock is held around each AES key schedule build.
JobOutcome DecryptFiles(Lock& keyScheduleLock, FileList& files, char* password, const DecryptOptions& options,
                        FrontEnd& ui);
// The same where a container may have been keyed with any of several forms of one
// password: each container is tried with CandidatesForContainer(its path, passwords), in
// order, and the first that opens it is used for it alone. A wrong password is reported
// only when none opens it.
JobOutcome DecryptFiles(Lock& keyScheduleLock, FileList& files, const PasswordCandidates& passwords,
                        const DecryptOptions& options, FrontEnd& ui);

struct EncryptOptions {
  bool deleteSource = false;         // remove each file once its container is in place
  bool useGenericExtension = false;  // every container is named with "aqv3"
  // A failed file does not end the run (Cancel still does): the desktop's encryption of a
  // selection tries every file and reports every failure.
  bool continuePastFailures = false;
  // Where the container's name is taken, the first free one of NumberedName's names
  // ("a (2).txt.aqv3" …) is used instead of failing. Nothing is ever replaced either way.
  bool numberTakenNames = false;
};

// Turns each file of files into a version 2 container beside it, named by
// ChooseEncryptedExtension(path, useGenericExtension); an existing file of that name is
// never replaced. random: the source of random bytes (null: the system's).
JobOutcome EncryptFiles(Lock& keyScheduleLock, FileList& files, char* password, const EncryptOptions& options,
                        FrontEnd& ui, RandomSource* random = nullptr);
