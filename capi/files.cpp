// The file calls: inspect, decrypt and encrypt one file through the engines, with the
// engines' rules for outputs, and the reader of a file. A front end of the engines like
// the others: progress and cancel go to the caller's callback, the first failure becomes
// the call's error, notices are dropped (a library prints nothing).

#include <cstdlib>
#include <cstring>
#include <memory>

#include "capi/internal.h"
#include "container/engines.h"
#include "container/file_list.h"
#include "container/format.h"
#include "container/io.h"
#include "container/naming.h"
#include "container/system_error_exception.h"
#include "crypto/secure.h"
#include "platform/catalog.h"
#include "platform/file_handle.h"
#include "platform/lock.h"
#include "platform/system_error.h"
#include "platform/working_folder.h"

namespace capi {
int OpenReader(std::unique_ptr<ContainerSource> source, bool ownsFile, const std::string& name,
               const char* password, size_t length, unsigned flags, qv3_reader** reader, qv3_error** error);
}  // namespace capi

namespace {

// The caller's callbacks, null where the caller gave none.
struct Callbacks {
  qv3_progress_fn progress = nullptr;
  qv3_cancel_fn cancelled = nullptr;
  qv3_notice_fn notice = nullptr;
  void* context = nullptr;
};

class CallbackProgress : public ProgressView {
 public:
  CallbackProgress(const Callbacks& callbacks, bool* cancelled) : m_callbacks(callbacks), m_cancelled(*cancelled) {}
  void StartFile(const std::string&) override { SetProgress(0); }
  void SetProgress(unsigned percent) override {
    if (!m_callbacks.progress || m_cancelled) return;
    if (m_callbacks.progress(m_callbacks.context, percent) != 0) m_cancelled = true;
  }
  bool IsCancelled() override {
    if (!m_cancelled && m_callbacks.cancelled && m_callbacks.cancelled(m_callbacks.context) != 0) m_cancelled = true;
    return m_cancelled;
  }

 private:
  const Callbacks& m_callbacks;
  bool& m_cancelled;
};

// The engines' front end for one call: keeps the first failure, tells every failure and
// notice as it comes.
class LibraryFrontEnd : public FrontEnd {
 public:
  explicit LibraryFrontEnd(const Callbacks& callbacks) : m_callbacks(callbacks) {}
  std::unique_ptr<ProgressView> OpenProgress(ProgressOperation) override {
    return std::make_unique<CallbackProgress>(m_callbacks, &m_cancelled);
  }
  void ShowErrorMessage(const std::string& message, uint32_t code) override {
    Tell(QV3_UNREADABLE, AppendSystemErrorText(message, code));
    if (!m_failed) {
      m_failed = true;
      m_message = message;
      m_code = code;
    }
  }
  void ReportFailure(const Failure& failure) override {
    Tell(capi::CodeOf(failure.kind), AppendSystemErrorText(FailureText(failure), failure.code));
    if (!m_failed) {
      m_failed = true;
      m_failure = failure;
      m_hasFailure = true;
    }
  }
  void ShowNotice(const std::string& message) override { Tell(QV3_OK, message); }

  // The call's code for what became of the file, *error set for a failure.
  int Result(FileOutcome outcome, qv3_error** error) const {
    switch (outcome) {
      case FileOutcome::Done:
        return QV3_OK;
      case FileOutcome::Cancelled:
        return capi::Fail(error, QV3_CANCELLED, Tr("취소했습니다"));
      case FileOutcome::Failed:
      case FileOutcome::NotStarted:
        break;
    }
    if (m_hasFailure) return capi::Fail(error, m_failure);
    return capi::Fail(error, QV3_UNREADABLE, m_message, m_code);
  }

 private:
  void Tell(int code, const std::string& message) {
    if (m_callbacks.notice) m_callbacks.notice(m_callbacks.context, code, message.c_str());
  }

  const Callbacks& m_callbacks;
  bool m_cancelled = false;
  bool m_failed = false;
  bool m_hasFailure = false;
  Failure m_failure{FailureKind::Unreadable, 0, {}};
  std::string m_message;
  uint32_t m_code = 0;
};

// What the caller gave, checked: false for a struct of an unknown size.
bool TakeCallbacks(const qv3_progress* progress, Callbacks* callbacks) {
  if (!progress) return true;
  if (progress->struct_size < sizeof(qv3_progress)) return false;
  callbacks->progress = progress->callback;
  callbacks->cancelled = progress->cancelled;
  callbacks->notice = progress->notice;
  callbacks->context = progress->context;
  return true;
}

class FileContainerSource : public ContainerSource {
 public:
  uint32_t GetSize(uint64_t* size) override { return m_source->GetSize(size); }
  uint32_t Read(void* buffer, uint32_t count, uint32_t* read) override { return m_source->Read(buffer, count, read); }
  uint32_t Rewind() override { return m_source->Rewind(); }
  FileHandle file;
  std::unique_ptr<FileSource> m_source = std::make_unique<FileSource>(file);
};

void OpenForReading(const std::string& path, FileHandle* file) {
  const uint32_t status = file->Open(path.c_str(), FileMode::Read, Disposition::OpenExisting);
  if (status != 0) throw SystemErrorException(InputOpenFailure(path, false, status));
}

char* Duplicate(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

}  // namespace

extern "C" {

int qv3_inspect(const char* path, qv3_info* info, qv3_error** error) {
  if (error) *error = nullptr;
  if (!path || !info || info->struct_size < sizeof(qv3_info))
    return capi::Fail(error, QV3_INVALID_ARGUMENT, "qv3_inspect: path, info, info->struct_size");
  try {
    FileHandle file;
    OpenForReading(path, &file);
    FileSource source(file);
    ContainerReader reader(source, path);
    const ContainerLayout layout = reader.ReadLayout(/*keepExtensions=*/true);
    uint8_t lengthByte = layout.lengthByte;
    if (layout.version != 0 && layout.cipherLength > 0) {
      // The length byte sits between the ciphertext and the bulk MAC.
      uint32_t got = 0;
      uint32_t status = file.Seek(layout.size - 33);
      if (status == 0) status = file.Read(&lengthByte, 1, &got);
      if (status == 0 && got != 1) status = EndOfFileError();
      if (status != 0) throw SystemErrorException(FailureKind::Unreadable, status, path);
    }
    const uint32_t size = info->struct_size;
    std::memset(info, 0, sizeof(qv3_info));
    info->struct_size = size;
    info->version = layout.version;
    info->container_size = layout.size;
    info->ciphertext_length = layout.cipherLength;
    info->plaintext_length = PlaintextLength(layout.cipherLength, lengthByte);
    info->extension_count = static_cast<uint32_t>(layout.extensions.size());
    static const char kTag[] = "CREATED_BY";  // the tag and its zero, then the text
    for (const auto& e : layout.extensions)
      if (!info->created_by[0] && e.size() >= sizeof kTag && std::memcmp(e.data(), kTag, sizeof kTag) == 0) {
        const size_t length = std::min(e.size() - sizeof kTag, sizeof info->created_by - 1);
        std::memcpy(info->created_by, e.data() + sizeof kTag, length);
        info->created_by[length] = 0;
      }
    return QV3_OK;
  } catch (...) {
    return capi::FailFromCurrentException(error);
  }
}

int qv3_decrypt_file(const char* src, const char* dst, const char* password, size_t password_len, unsigned flags,
                     const qv3_progress* progress, qv3_error** error) {
  if (!src || !*src) {
    if (error) *error = nullptr;
    return capi::Fail(error, QV3_INVALID_ARGUMENT, "qv3_decrypt_file: src, dst, progress->struct_size");
  }
  ListedFile file;
  file.path = src;
  return capi::DecryptFile(file, dst, password, password_len, flags, progress, error);
}

int qv3_encrypt_file(const char* src, const char* password, size_t password_len, unsigned flags,
                     const qv3_progress* progress, char** container_path, qv3_error** error) {
  if (!src || !*src) {
    if (error) *error = nullptr;
    if (container_path) *container_path = nullptr;
    return capi::Fail(error, QV3_INVALID_ARGUMENT, "qv3_encrypt_file: src, progress->struct_size");
  }
  ListedFile file;
  file.path = src;
  return capi::EncryptFile(file, password, password_len, flags, progress, container_path, error, nullptr);
}

}  // extern "C"

int capi::DecryptFile(const ListedFile& src, const char* dst, const char* password, size_t password_len,
                      unsigned flags, const qv3_progress* progress, qv3_error** error) {
  if (error) *error = nullptr;
  Callbacks callbacks;
  if ((dst && !*dst) || !TakeCallbacks(progress, &callbacks))
    return capi::Fail(error, QV3_INVALID_ARGUMENT, "qv3_decrypt_file: src, dst, progress->struct_size");
  PasswordCandidates passwords;
  if (const int status = capi::OpeningPasswords(password, password_len, flags, &passwords, error)) return status;
  try {
    DecryptOptions options;
    options.overwrite = (flags & QV3_OVERWRITE) != 0;
    options.deleteSource = (flags & QV3_DELETE_SOURCE) != 0;
    options.toWorkingFolder = (flags & QV3_TO_WORKING_FOLDER) != 0;
    if (options.toWorkingFolder)
      options.workingFolder = dst ? dst : WorkingFolder();
    else if (dst)
      options.outputPath = dst;
    FileList files;
    files.Append(src);
    Lock keyScheduleLock;
    LibraryFrontEnd ui(callbacks);
    const JobOutcome outcome = DecryptFiles(keyScheduleLock, files, passwords, options, ui);
    return ui.Result(outcome.empty() ? FileOutcome::NotStarted : outcome[0], error);
  } catch (...) {
    return capi::FailFromCurrentException(error);
  }
}

int capi::EncryptFile(const ListedFile& src, const char* password, size_t password_len, unsigned flags,
                      const qv3_progress* progress, char** container_path, qv3_error** error, RandomSource* random) {
  if (error) *error = nullptr;
  if (container_path) *container_path = nullptr;
  Callbacks callbacks;
  if (!TakeCallbacks(progress, &callbacks))
    return capi::Fail(error, QV3_INVALID_ARGUMENT, "qv3_encrypt_file: src, progress->struct_size");
  if (flags & (QV3_OVERWRITE | QV3_TO_WORKING_FOLDER))
    return capi::Fail(error, QV3_INVALID_ARGUMENT,
                      "qv3_encrypt_file: QV3_OVERWRITE, QV3_TO_WORKING_FOLDER (a container replaces nothing)");
  std::string bytes;
  StringWipe wipeBytes(bytes);
  if (const int status = capi::MakingBytes(password, password_len, flags, &bytes, error)) return status;
  try {
    // The engine takes a buffer of its own to wipe.
    char buffer[capi::kMaxPasswordBytes + 1] = {};
    ScopedWipe wipeBuffer(buffer, sizeof buffer);
    std::memcpy(buffer, bytes.data(), bytes.size());
    EncryptOptions options;
    options.deleteSource = (flags & QV3_DELETE_SOURCE) != 0;
    options.useGenericExtension = !bytes.empty();
    FileList files;
    files.Append(src);
    Lock keyScheduleLock;
    LibraryFrontEnd ui(callbacks);
    const JobOutcome outcome = EncryptFiles(keyScheduleLock, files, buffer, options, ui, random);
    const int status = ui.Result(outcome.empty() ? FileOutcome::NotStarted : outcome[0], error);
    if (status == QV3_OK && container_path) {
      *container_path = Duplicate(src.path + "." + ChooseEncryptedExtension(src.path.c_str(), !bytes.empty()));
      if (!*container_path) return capi::Fail(error, Failure{FailureKind::MemoryAllocation, 0, {}});
    }
    return status;
  } catch (...) {
    return capi::FailFromCurrentException(error);
  }
}

extern "C" {

int qv3_reader_open_file(const char* path, const char* password, size_t password_len, unsigned flags,
                         qv3_reader** reader, qv3_error** error) {
  if (error) *error = nullptr;
  if (!path || !reader) return capi::Fail(error, QV3_INVALID_ARGUMENT, "qv3_reader_open_file: path, reader");
  *reader = nullptr;
  std::unique_ptr<FileContainerSource> source;
  try {
    source = std::make_unique<FileContainerSource>();
    OpenForReading(path, &source->file);
  } catch (...) {
    return capi::FailFromCurrentException(error);
  }
  return capi::OpenReader(std::move(source), true, path, password, password_len, flags, reader, error);
}

}  // extern "C"
