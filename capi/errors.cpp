// Failures as qv3_error values, the codes' exit statuses, and the password rule applied
// to what a caller gives.

#include <cstdlib>
#include <cstring>
#include <new>

#include "capi/internal.h"
#include "container/naming.h"
#include "crypto/secure.h"
#include "container/system_error_exception.h"
#include "platform/catalog.h"
#include "platform/system_error.h"
#include "platform/text.h"
#include "qv3_version.h"

namespace capi {

qv3_code CodeOf(FailureKind kind) {
  switch (kind) {
    case FailureKind::SizeUnknown: return QV3_SIZE_UNKNOWN;
    case FailureKind::TooSmall: return QV3_TOO_SMALL;
    case FailureKind::TooSmallV2: return QV3_TOO_SMALL_V2;
    case FailureKind::HeadUnreadable: return QV3_HEAD_UNREADABLE;
    case FailureKind::BadSignature: return QV3_BAD_SIGNATURE;
    case FailureKind::BadVersion: return QV3_BAD_VERSION;
    case FailureKind::ExtensionLengthUnreadable: return QV3_EXTENSION_LENGTH_UNREADABLE;
    case FailureKind::ExtensionUnreadable: return QV3_EXTENSION_UNREADABLE;
    case FailureKind::BadCipherLength: return QV3_BAD_CIPHER_LENGTH;
    case FailureKind::Unreadable: return QV3_UNREADABLE;
    case FailureKind::KeyBlockMac: return QV3_WRONG_PASSWORD;
    case FailureKind::BulkMacV0: return QV3_WRONG_PASSWORD_OR_DAMAGED;
    case FailureKind::BulkMac: return QV3_DAMAGED;
    case FailureKind::WriteFailed: return QV3_WRITE_FAILED;
    case FailureKind::KeyBlockWriteFailed: return QV3_KEY_BLOCK_WRITE_FAILED;
    case FailureKind::NextWriteFailed: return QV3_NEXT_WRITE_FAILED;
    case FailureKind::InvalidName: return QV3_INVALID_NAME;
    case FailureKind::OddName: return QV3_ODD_NAME;
    case FailureKind::NotAContainerName: return QV3_NOT_A_CONTAINER_NAME;
    case FailureKind::InputMissing: return QV3_INPUT_MISSING;
    case FailureKind::DirectoryNotDecrypted: return QV3_DIRECTORY_NOT_DECRYPTED;
    case FailureKind::DirectoryNotEncrypted: return QV3_DIRECTORY_NOT_ENCRYPTED;
    case FailureKind::InputNotOpened: return QV3_INPUT_NOT_OPENED;
    // Only a folder's walk (qv3 -r) meets these: a file given by its path never does.
    // Neither is opened; the message says why.
    case FailureKind::FolderUnreadable: return QV3_INPUT_NOT_OPENED;
    case FailureKind::ChangedSinceFound: return QV3_INPUT_NOT_OPENED;
    case FailureKind::OutputNotCreated: return QV3_OUTPUT_NOT_CREATED;
    case FailureKind::OutputNotOpened: return QV3_OUTPUT_NOT_OPENED;
    case FailureKind::PartialNamesTaken: return QV3_TEMPORARY_NAMES_TAKEN;
    case FailureKind::SourceNotDeleted: return QV3_SOURCE_NOT_DELETED;
    case FailureKind::SourceIsLink: return QV3_SOURCE_IS_LINK;
    case FailureKind::NoCryptoProvider: return QV3_NO_CRYPTO_PROVIDER;
    case FailureKind::NoRandomBytes: return QV3_NO_RANDOM_BYTES;
    case FailureKind::MemoryAllocation: return QV3_OUT_OF_MEMORY;
    case FailureKind::ThreadCreation: return QV3_THREAD_NOT_CREATED;
  }
  return QV3_UNREADABLE;
}

int Fail(qv3_error** error, int code, std::string message, uint32_t systemCode, std::string path) {
  if (error) {
    try {
      auto* made = new Error;
      made->code = code;
      if (systemCode == kCallbackFailed) systemCode = 0;
      made->systemCode = systemCode;
      made->path = std::move(path);
      made->message = AppendSystemErrorText(message, systemCode);
      *error = reinterpret_cast<qv3_error*>(made);
    } catch (...) {
      *error = nullptr;  // no memory for the error: the code alone tells
    }
  }
  return code;
}

int Fail(qv3_error** error, const Failure& failure) {
  return Fail(error, CodeOf(failure.kind), FailureText(failure), failure.code, failure.path);
}

int FailFromCurrentException(qv3_error** error) {
  try {
    throw;
  } catch (const SystemErrorException& e) {
    return Fail(error, e.m_failure);
  } catch (const std::bad_alloc&) {
    return Fail(error, Failure{FailureKind::MemoryAllocation, 0, {}});
  } catch (...) {
    return Fail(error, Failure{FailureKind::Unreadable, 0, {}});
  }
}

namespace {

int CheckGiven(const char* password, size_t length, unsigned flags, qv3_error** error) {
  if (flags & ~kKnownFlags)
    return Fail(error, QV3_INVALID_ARGUMENT, Format(Tr("잘못된 인자입니다: %s"), "flags"));
  if (!password && length > 0)
    return Fail(error, QV3_INVALID_ARGUMENT, Format(Tr("잘못된 인자입니다: %s"), "password"));
  if (length > kMaxPasswordBytes)
    return Fail(error, QV3_INVALID_ARGUMENT,
                Format(Tr("암호가 %u 바이트보다 깁니다"), static_cast<unsigned>(kMaxPasswordBytes)));
  if (length == 0 && !(flags & QV3_EMPTY_PASSWORD))
    return Fail(error, QV3_EMPTY_PASSWORD_REFUSED,
                Tr("암호가 비어 있습니다: 빈 암호를 뜻한다면 그렇다고 밝혀 주십시오 (QV3_EMPTY_PASSWORD)"));
  if (length > 0 && (flags & QV3_EMPTY_PASSWORD))
    return Fail(error, QV3_PASSWORD_NOT_EMPTY,
                Tr("빈 암호를 뜻한다고 했는데 암호가 비어 있지 않습니다. 아무것도 하지 않았습니다"));
  return QV3_OK;
}

}  // namespace

int OpeningPasswords(const char* password, size_t length, unsigned flags, PasswordCandidates* candidates,
                     qv3_error** error) {
  if (const int status = CheckGiven(password, length, flags, error)) return status;
  if (length == 0) {
    candidates->Add("", 0);
    return QV3_OK;
  }
  std::string given(password, length);
  StringWipe wipe(given);
  *candidates = (flags & QV3_PASSWORD_BYTES) ? GivenPasswordCandidates(given)
                                             : OpeningCandidates(given, TypedLength::AlsoWhole);
  return QV3_OK;
}

int MakingBytes(const char* password, size_t length, unsigned flags, std::string* bytes, qv3_error** error) {
  if (const int status = CheckGiven(password, length, flags, error)) return status;
  if (std::memchr(password ? password : "", 0, length))
    return Fail(error, QV3_INVALID_ARGUMENT, Tr("암호에 NUL 바이트가 있습니다"));
  if (length > 0 && (flags & QV3_PASSWORD_BYTES)) {
    bytes->assign(password, length);
  } else if (length > 0) {
    std::string typed(password, length);
    StringWipe wipe(typed);
    const NewPassword made = MakingPassword(typed, SIZE_MAX);
    if (!made.accepted) return Fail(error, QV3_PASSWORD_NOT_KEPT, NewPasswordRefusal(made));
    *bytes = made.bytes;
  }
  if (bytes->size() > kPromptPasswordBytes && !(flags & QV3_LONG_PASSWORD)) {
    const std::string count = std::to_string(bytes->size());
    SecureWipe(&(*bytes)[0], bytes->size());
    bytes->clear();
    return Fail(error, QV3_PASSWORD_TOO_LONG,
                Format(Tr("암호가 %s 바이트인데, 데스크톱 뷰어는 암호 창에 입력한 앞의 %u 바이트만 써서 그 암호 파일을 "
                          "열 수 없습니다. 아무것도 쓰지 않았습니다 (그래도 만들려면 QV3_LONG_PASSWORD)"),
                       count.c_str(), static_cast<unsigned>(kPromptPasswordBytes)));
  }
  return QV3_OK;
}

}  // namespace capi

extern "C" {

int qv3_exit_status(int code) {
  if (code == QV3_OK) return 0;
  if (code == QV3_CANCELLED) return 130;
  if (code >= QV3_INVALID_ARGUMENT && code < QV3_CANCELLED) return 2;
  return 1;
}

int qv3_error_code(const qv3_error* error) { return error ? capi::Of(error)->code : QV3_OK; }
uint32_t qv3_error_system_code(const qv3_error* error) { return error ? capi::Of(error)->systemCode : 0; }
const char* qv3_error_message(const qv3_error* error) { return error ? capi::Of(error)->message.c_str() : ""; }
const char* qv3_error_path(const qv3_error* error) { return error ? capi::Of(error)->path.c_str() : ""; }
void qv3_error_free(qv3_error* error) { delete capi::Of(error); }
void qv3_free(void* memory) { std::free(memory); }
const char* qv3_version(void) { return QV3_VERSION_TEXT; }

const char* qv3_container_extension(const char* path, int empty_password) {
  return ChooseEncryptedExtension(path ? path : "", empty_password == 0);
}

int qv3_is_container_name(const char* path) { return path && HasContainerExtension(path) ? 1 : 0; }

}  // extern "C"
