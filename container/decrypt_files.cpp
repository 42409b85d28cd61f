#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "container/engines.h"
#include "container/format.h"
#include "container/io.h"
#include "container/naming.h"
#include "container/output_file.h"
#include "container/password_rule.h"
#include "container/progress_step.h"
#include "container/system_error_exception.h"
#include "crypto/secure.h"
#include "platform/file_handle.h"
#include "platform/file_ops.h"
#include "platform/lock.h"
#include "platform/system_error.h"

namespace {

// Data moves in pieces of this size: one read and one write call each.
constexpr size_t kChunk = 1 << 20;

class Decryptor {
 public:
  Decryptor(Lock& lock, const PasswordCandidates& passwords, const DecryptOptions& options, FrontEnd& ui,
            ProgressView& view)
      : m_lock(lock), m_passwords(passwords), m_options(options), m_ui(ui), m_view(view) {}
  ~Decryptor() {
    if (!m_buffer.empty()) SecureWipe(m_buffer.data(), m_buffer.size());
  }

  FileOutcome DecryptOne(const ListedFile& file);

 private:
  bool OutputPath(const std::string& path, std::string* output);
  bool OpenFiles(const ListedFile& file, OutputFile& output);
  void Transform(const std::string& path, const std::string& output);
  void Fail(FailureKind kind, uint32_t code, const std::string& path) { Fail({kind, code, path}); }
  void Fail(const Failure& failure) {
    m_ui.ReportFailure(failure);
    m_outcome = FileOutcome::Failed;
  }
  Replacing Placement() const {
    if (m_options.toWorkingFolder) return Replacing::Writable;
    return m_options.overwrite ? Replacing::Always : Replacing::Never;
  }

  Lock& m_lock;
  const PasswordCandidates& m_passwords;
  const DecryptOptions& m_options;
  FrontEnd& m_ui;
  ProgressView& m_view;
  FileHandle m_in, m_out;
  std::vector<uint8_t> m_buffer;
  FileOutcome m_outcome = FileOutcome::Done;  // of the file in work
};

// The plaintext's path; false (with the failure shown) when the container's name cannot
// give one.
bool Decryptor::OutputPath(const std::string& path, std::string* output) {
  if (!m_options.outputPath.empty()) {
    if (!PathFits(PartialPath(m_options.outputPath, kPartialAttempts))) {
      Fail(FailureKind::InvalidName, 0, m_options.outputPath);
      return false;
    }
    *output = m_options.outputPath;
    return true;
  }
  switch (PlaintextPath(path, m_options.toWorkingFolder, m_options.workingFolder, output)) {
    case PlaintextNameProblem::None:
      if (m_options.toWorkingFolder) CreateFolder(m_options.workingFolder.c_str());
      return true;
    case PlaintextNameProblem::Invalid:
      Fail(FailureKind::InvalidName, 0, path);
      return false;
    case PlaintextNameProblem::Odd:
      Fail(FailureKind::OddName, 0, path);
      return false;
    case PlaintextNameProblem::NotContainer:
      Fail(FailureKind::NotAContainerName, 0, path);
      return false;
  }
  return false;
}

// The container for reading and a new temporary file for writing; false (with the
// failure shown, nothing left open) when either cannot be had.
bool Decryptor::OpenFiles(const ListedFile& file, OutputFile& output) {
  const std::string& path = file.path;
  if (m_options.deleteSource && IsLink(path.c_str())) {
    Fail(FailureKind::SourceIsLink, 0, path);
    return false;
  }
  uint32_t status = OpenInput(m_in, file);
  if (status == kChangedSinceFound) {
    Fail(FailureKind::ChangedSinceFound, 0, path);
    return false;
  }
  if (status != 0) {
    Fail(InputOpenFailure(path, false, status));
    return false;
  }
  // An output that is the container itself would take its place.
  FileIdentity in, out;
  if (m_in.Identity(&in) == 0 && IdentityOf(output.FinalPath().c_str(), &out) && in == out) {
    m_in.Close();
    Fail(FailureKind::OutputNotCreated, 0, output.FinalPath());
    return false;
  }
  // A file already at the output path stays as it is until the plaintext has
  // authenticated; one it may not replace is refused now, before any work.
  status = MoveRefusal(output.FinalPath().c_str(), Placement());
  if (status == 0) status = output.Create(m_out);
  TellReclaimed(output, m_ui);
  if (status != 0) {
    m_in.Close();
    if (output.AllNamesTaken())
      Fail(FailureKind::PartialNamesTaken, 0, PartialPath(output.FinalPath(), 1));
    else
      Fail(FailureKind::OutputNotCreated, status, output.FinalPath());
    return false;
  }
  return true;
}

// Reads, checks and decrypts the container into the temporary file, with progress; a
// failure is shown, Cancel only marks the file as cancelled.
void Decryptor::Transform(const std::string& path, const std::string& output) {
  try {
    FileSource source(m_in);
    FileSink sink(m_out);
    ContainerReader reader(source, path, &m_lock);
    // A long extension section is read in pieces, with progress and Cancel between them.
    std::optional<ProgressStep> walk;
    const bool walked = reader.ReadLayoutUnless([&](uint64_t done, uint64_t total) {
      if (!walk) walk.emplace(m_view, total);
      return walk->Update(done, true);
    });
    if (!walked) {
      m_outcome = FileOutcome::Cancelled;  // no message
      return;
    }
    const ContainerLayout& layout = reader.layout();
    reader.Unlock(CandidatesForContainer(path, m_passwords));
    // No bigger than the container needs: a small file's run is not slowed by clearing
    // and wiping a chunk it never fills.
    const size_t want = static_cast<size_t>(
        std::min<uint64_t>(kChunk, std::max<uint64_t>(16, layout.cipherLength)));
    if (m_buffer.size() < want) m_buffer.resize(want);
    const uint64_t total = layout.size - layout.overhead;
    ProgressStep step(m_view, total);
    while (const size_t n = reader.ReadPlaintext(m_buffer.data(), m_buffer.size())) {
      const uint32_t status = sink.Write(m_buffer.data(), static_cast<uint32_t>(n));
      if (status != 0) throw SystemErrorException(FailureKind::NextWriteFailed, status, output);
      const uint64_t remaining = reader.CipherRemaining();
      if (step.Update(total - remaining, remaining > 0)) {
        m_outcome = FileOutcome::Cancelled;  // no message
        return;
      }
    }
    reader.Finish();
  } catch (const SystemErrorException& e) {
    Fail(e.m_failure);
  }
}

FileOutcome Decryptor::DecryptOne(const ListedFile& file) {
  m_outcome = FileOutcome::Done;
  const std::string& path = file.path;
  if (file.origin == ListedFile::Origin::Unreadable) {
    m_view.StartFile(path);
    Fail(FailureKind::FolderUnreadable, file.code, path);
    return m_outcome;
  }
  std::string outputPath;
  const bool named = OutputPath(path, &outputPath);
  m_view.StartFile(path);
  if (!named) return m_outcome;
  OutputFile output(outputPath);
  if (!OpenFiles(file, output)) return m_outcome;
  Transform(path, outputPath);
  // A plaintext reported as done is on the disk: the flush's failure is the file's. The
  // container's permissions less writing go onto the very file written, before it takes
  // its name; it stays open (its writer's) until then.
  if (!m_out.Flush()) Fail(FailureKind::WriteFailed, LastSystemError(), outputPath);
  if (m_outcome == FileOutcome::Done) {
    const uint32_t status = m_out.TakePermissionsOf(m_in, true);
    if (status != 0) Fail(FailureKind::OutputNotCreated, status, outputPath);
  }
  m_in.Close();
  if (m_outcome == FileOutcome::Done) {
    const uint32_t status = output.PutInPlace(Placement());
    if (status != 0) Fail(FailureKind::OutputNotCreated, status, outputPath);
  }
  m_out.Close();
  if (m_outcome != FileOutcome::Done) return m_outcome;  // output's destructor removes it
  FlushVolume(outputPath[0]);
  if (m_options.deleteSource) {
    const uint32_t status = RemoveSource(path);
    if (status != 0) Fail(FailureKind::SourceNotDeleted, status, path);
  }
  return m_outcome;
}

}  // namespace

JobOutcome DecryptFiles(Lock& keyScheduleLock, FileList& files, char* password, const DecryptOptions& options,
                        FrontEnd& ui) {
  ScopedWipe wipePassword(password, 256);
  PasswordCandidates passwords;
  passwords.Add(password, std::strlen(password));
  return DecryptFiles(keyScheduleLock, files, passwords, options, ui);
}

JobOutcome DecryptFiles(Lock& keyScheduleLock, FileList& files, const PasswordCandidates& passwords,
                        const DecryptOptions& options, FrontEnd& ui) {
  JobOutcome outcome;
  std::unique_ptr<ProgressView> view = ui.OpenProgress(OPERATION_DECRYPT);
  Decryptor decryptor(keyScheduleLock, passwords, options, ui, *view);
  ListedFile file;
  while (files.Take(&file)) {
    const FileOutcome result = decryptor.DecryptOne(file);
    outcome.push_back(result);
    if (result == FileOutcome::Cancelled || (result != FileOutcome::Done && !options.continuePastFailures)) break;
  }
  outcome.resize(outcome.size() + files.Count(), FileOutcome::NotStarted);
  return outcome;
}
