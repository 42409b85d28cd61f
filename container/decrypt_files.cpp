#include <cstring>
#include <string>
#include <vector>

#include "container/engines.h"
#include "container/format.h"
#include "container/naming.h"
#include "container/io.h"
#include "container/progress_step.h"
#include "container/system_error_exception.h"
#include "crypto/file_handle.h"
#include "crypto/secure.h"
#include "platform/file_ops.h"
#include "platform/lock.h"
#include "platform/path.h"
#include "platform/system_error.h"
#include "platform/working_folder.h"

namespace {

// Data moves in pieces of this size: one read and one write call each.
constexpr size_t kChunk = 1 << 20;
constexpr size_t kWorkingFolderBuffer = 520;

class Decryptor {
 public:
  Decryptor(Lock& lock, char* password, bool deleteSource, bool toWorkingFolder, FrontEnd& ui,
            ProgressView& view)
      : m_lock(lock),
        m_password(password),
        m_deleteSource(deleteSource),
        m_toWorkingFolder(toWorkingFolder),
        m_ui(ui),
        m_view(view) {}
  ~Decryptor() {
    if (!m_buffer.empty()) SecureWipe(m_buffer.data(), m_buffer.size());
  }

  // Returns false when the run must stop (a failure or Cancel).
  bool DecryptOne(const std::string& path);

 private:
  bool OutputPath(const std::string& path, std::string* output);
  bool OpenFiles(const std::string& path, const std::string& output, const std::string& partial);
  void Transform(const std::string& path, const std::string& output);
  void CloseFiles(const std::string& output);
  void PutInPlace(const std::string& partial, const std::string& output);
  void Fail(FailureKind kind, uint32_t code, const std::string& path) { Fail({kind, code, path}); }
  void Fail(const Failure& failure) {
    m_ui.ReportFailure(failure);
    m_failed = true;
  }

  Lock& m_lock;
  const char* m_password;
  bool m_deleteSource;
  bool m_toWorkingFolder;
  FrontEnd& m_ui;
  ProgressView& m_view;
  FileHandle m_in, m_out;
  std::vector<uint8_t> m_buffer;
  bool m_failed = false;  // a failure was shown, or Cancel: the run stops
};

// The plaintext's path; false (with the failure shown) when the container's name cannot
// give one.
bool Decryptor::OutputPath(const std::string& path, std::string* output) {
  switch (PlaintextPath(path, m_toWorkingFolder, output)) {
    case PlaintextNameProblem::None:
      if (m_toWorkingFolder) {
        char folder[kWorkingFolderBuffer] = {};
        GetWorkingFolder(sizeof folder, folder);
        CreateFolder(folder);
      }
      return true;
    case PlaintextNameProblem::Invalid:
      Fail(FailureKind::InvalidName, 0, path);
      return false;
    case PlaintextNameProblem::Odd:
      Fail(FailureKind::OddName, 0, path);
      return false;
  }
  return false;
}

// The container for reading and the temporary file for writing; false (with the failure
// shown, nothing left open) when either cannot be had.
bool Decryptor::OpenFiles(const std::string& path, const std::string& output, const std::string& partial) {
  uint32_t status = m_in.Open(path.c_str(), FileMode::Read, Disposition::OpenExisting);
  if (status != 0) {
    Fail(InputOpenFailure(path, false, status));
    return false;
  }
  // A file already at the output path stays as it is until the plaintext has
  // authenticated; one that could not be replaced then is refused now, before any work.
  if (LookUpPath(output.c_str()) != PathKind::Missing) {
    FileHandle probe;
    status = probe.Open(output.c_str(), FileMode::Write, Disposition::OpenExisting);
  }
  if (status == 0) status = m_out.Open(partial.c_str(), FileMode::Write, Disposition::CreateAlways);
  if (status != 0) {
    m_in.Close();
    Fail(FailureKind::OutputNotCreated, status, output);
    return false;
  }
  return true;
}

// Reads, checks and decrypts the container into the temporary file, with progress; a
// failure is shown, Cancel only marks the run as stopped.
void Decryptor::Transform(const std::string& path, const std::string& output) {
  try {
    FileSource source(m_in);
    FileSink sink(m_out);
    ContainerReader reader(source, path, &m_lock);
    const ContainerLayout& layout = reader.ReadLayout();
    reader.Unlock(m_password, std::strlen(m_password));
    if (m_buffer.empty()) m_buffer.resize(kChunk);
    const uint64_t total = layout.size - layout.overhead;
    ProgressStep step(m_view, total);
    while (const size_t n = reader.ReadPlaintext(m_buffer.data(), m_buffer.size())) {
      const uint32_t status = sink.Write(m_buffer.data(), static_cast<uint32_t>(n));
      if (status != 0) throw SystemErrorException(FailureKind::NextWriteFailed, status, output);
      const uint64_t remaining = reader.CipherRemaining();
      if (step.Update(total - remaining, remaining > 0)) {
        m_failed = true;  // cancelled: no message
        return;
      }
    }
    reader.Finish();
  } catch (const SystemErrorException& e) {
    Fail(e.m_failure);
  }
}

// A plaintext reported as done is on the disk: the flush's failure is the file's.
void Decryptor::CloseFiles(const std::string& output) {
  if (!m_out.Flush()) Fail(FailureKind::WriteFailed, LastSystemError(), output);
  m_in.Close();
  m_out.Close();
}

// The authenticated plaintext, read-only, under its final name.
void Decryptor::PutInPlace(const std::string& partial, const std::string& output) {
  SetReadOnly(partial.c_str(), true);
  const uint32_t status = ReplacePath(partial.c_str(), output.c_str());
  if (status != 0) {
    SetReadOnly(partial.c_str(), false);
    Fail(FailureKind::OutputNotCreated, status, output);
  }
}

bool Decryptor::DecryptOne(const std::string& path) {
  std::string output;
  const bool named = OutputPath(path, &output);
  m_view.StartFile(path);
  if (!named) return false;
  const std::string partial = output + kPartialSuffix;
  if (!OpenFiles(path, output, partial)) return false;
  Transform(path, output);
  CloseFiles(output);
  if (!m_failed) PutInPlace(partial, output);
  if (m_failed) {
    DeletePath(partial.c_str());
    return false;
  }
  if (m_deleteSource) {
    SetReadOnly(path.c_str(), false);
    DeletePath(path.c_str());
  }
  FlushVolume(output[0]);
  return true;
}

}  // namespace

void DecryptFiles(Lock& keyScheduleLock, FileList& files, char* password, bool deleteSource,
                  bool toWorkingFolder, FrontEnd& ui) {
  ScopedWipe wipePassword(password, 256);
  std::unique_ptr<ProgressView> view = ui.OpenProgress(OPERATION_DECRYPT);
  Decryptor decryptor(keyScheduleLock, password, deleteSource, toWorkingFolder, ui, *view);
  bool ok = true;
  while (ok && !files.Empty()) {
    ok = decryptor.DecryptOne(files.Front());
    files.RemoveFront();
  }
}
