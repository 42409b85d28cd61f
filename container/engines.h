#pragma once
// The two engines: every file of a list, in order, on the calling (worker) thread, with
// one progress view for the run. The first failure, or Cancel, ends the run: that file's
// partial output is deleted and the files after it are not touched. Every failure is
// shown through the front end at once; nothing is returned.
//
// Files move in large chunks through FileHandle; the checks, their order, the messages
// and codes, progress and what is left on disk are those of one block at a time.

#include <string>

#include "container/file_list.h"
#include "container/front_end.h"
#include "container/naming.h"  // kPartialSuffix

class Lock;
class RandomSource;

// Turns each container of files into its plaintext, read-only after success: beside the
// container, or in the working folder when toWorkingFolder is set. The plaintext is
// written to a temporary file beside its output path and put in place only once the
// container has authenticated, so a file already at the output path survives every
// failure. password: a writable buffer of at least 256 bytes holding a zero-terminated
// password; its first 256 bytes are zeroed before the call returns, on every path.
// keyScheduleLock is held around each AES key schedule build.
void DecryptFiles(Lock& keyScheduleLock, FileList& files, char* password, bool deleteSource,
                  bool toWorkingFolder, FrontEnd& ui);

// Turns each file of files into a version 2 container beside it, named by
// ChooseEncryptedExtension(path, useGenericExtension); an existing file of that name is
// never replaced. random: the source of random bytes (null: the system's).
void EncryptFiles(Lock& keyScheduleLock, FileList& files, char* password, bool deleteSource,
                  bool useGenericExtension, FrontEnd& ui, RandomSource* random = nullptr);

