#pragma once
// What the C API's files share: failures made into qv3_error values, and the password
// rule applied to what a caller gives.

#include <cstdint>
#include <string>

#include "container/failure.h"
#include "container/password_rule.h"
#include "qv3.h"

class RandomSource;
struct ListedFile;

namespace capi {

// What a qv3_error points to. The public types stay opaque, declared only, so the ABI the
// header promises holds nothing of the library's insides: each handle is cast from its
// internal type where it is made and back where it is used.
struct Error {
  int code = QV3_OK;
  uint32_t systemCode = 0;
  std::string path;
  std::string message;
};
inline Error* Of(qv3_error* error) { return reinterpret_cast<Error*>(error); }
inline const Error* Of(const qv3_error* error) { return reinterpret_cast<const Error*>(error); }

// The library's code for a failure kind of the engines.
qv3_code CodeOf(FailureKind kind);

// Sets *error (when error is not null) to a new error; returns code.
int Fail(qv3_error** error, int code, std::string message, uint32_t systemCode = 0, std::string path = {});
// The same for an engine's failure, its message as the command line shows it.
int Fail(qv3_error** error, const Failure& failure);
// The code (and error) of whatever the engines or the allocator threw.
int FailFromCurrentException(qv3_error** error);

// The passwords a container is tried with, from what a caller gave (flags say how to
// read it). Returns QV3_OK or a usage code with *error set.
int OpeningPasswords(const char* password, size_t length, unsigned flags, PasswordCandidates* candidates,
                     qv3_error** error);
// The bytes a new container is keyed with.
int MakingBytes(const char* password, size_t length, unsigned flags, std::string* bytes, qv3_error** error);

// The status a caller's callback that failed gives the format's code: no system error.
constexpr uint32_t kCallbackFailed = 0xFFFFFFFFu;

// qv3_decrypt_file and qv3_encrypt_file of a file as a list holds it: one a folder's walk
// found is opened only as the regular file the walk listed, and an empty name is the
// engines' to refuse, as any name they cannot open. EncryptFile also takes a source
// of random bytes its caller keeps from one call to the next (null: the system's, acquired
// for the call): a program that makes many small containers (qv3's batches) need not
// acquire the system's provider for each, which on Windows costs more than a small file's
// own work.
int DecryptFile(const ListedFile& src, const char* dst, const char* password, size_t password_len, unsigned flags,
                const qv3_progress* progress, qv3_error** error);
int EncryptFile(const ListedFile& src, const char* password, size_t password_len, unsigned flags,
                const qv3_progress* progress, char** container_path, qv3_error** error, RandomSource* random);

// The flags a call knows; others are refused as invalid.
constexpr unsigned kKnownFlags =
    QV3_OVERWRITE | QV3_DELETE_SOURCE | QV3_LONG_PASSWORD | QV3_EMPTY_PASSWORD | QV3_PASSWORD_BYTES |
    QV3_TO_WORKING_FOLDER;
// The longest password taken, in bytes (a password file's limit too).
constexpr size_t kMaxPasswordBytes = 256;

}  // namespace capi
