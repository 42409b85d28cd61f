#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "container/engines.h"
#include "container/format.h"
#include "container/io.h"
#include "container/key_material.h"
#include "container/naming.h"
#include "container/output_file.h"
#include "container/pipeline.h"
#include "container/progress_step.h"
#include "container/system_error_exception.h"
#include "platform/file_handle.h"
#include "crypto/secure.h"
#include "crypto/sha256.h"
#include "platform/file_ops.h"
#include "platform/lock.h"
#include "platform/random.h"
#include "platform/system_error.h"

namespace {

class Encryptor {
 public:
  Encryptor(Lock& lock, const char* password, const EncryptOptions& options, FrontEnd& ui, ProgressView& view,
            RandomSource& random)
      : m_lock(lock),
        m_password(password),
        m_options(options),
        m_ui(ui),
        m_view(view),
        m_random(random) {}
  FileOutcome EncryptOne(const std::string& path);
  void Fail(FailureKind kind, uint32_t code, const std::string& path) { Fail({kind, code, path}); }
  void Fail(const Failure& failure) {
    m_ui.ReportFailure(failure);
    m_outcome = FileOutcome::Failed;
  }

 private:
  bool WriteContainer(const std::string& path, const std::string& output);
  // The n-th name of path's container (NumberedName), and how many there are to try.
  std::string ContainerName(const std::string& path, unsigned n) const {
    return NumberedName(path, n) + "." + ChooseEncryptedExtension(path.c_str(), m_options.useGenericExtension);
  }
  unsigned NamesToTry() const { return m_options.numberTakenNames ? kNumberedAttempts : 1; }

  Lock& m_lock;
  const char* m_password;
  const EncryptOptions& m_options;
  FrontEnd& m_ui;
  ProgressView& m_view;
  RandomSource& m_random;
  FileHandle m_in, m_out;
  FileOutcome m_outcome = FileOutcome::Done;  // of the file in work
};

// Random key material, the head and the data. Returns false when cancelled; throws
// SystemErrorException on failure.
bool Encryptor::WriteContainer(const std::string& path, const std::string& output) {
  uint8_t material[kKeyBlockSize];  // bulk IV, then bulk key
  ScopedWipe wipeMaterial(material, sizeof material);
  MakeBulkIvAndKey(m_random, material);

  int64_t size = 0;
  uint32_t status = m_in.GetSize(&size);
  if (status != 0) throw SystemErrorException(FailureKind::SizeUnknown, status, path);

  uint8_t fileIv[16];
  MakeFileIv(m_random, static_cast<uint64_t>(std::time(nullptr)), static_cast<uint64_t>(size), path, fileIv);

  // One second thread reads the source ahead and MACs and writes the container, so this
  // one does nothing but the cipher's chain.
  WorkQueue queue;
  FileSink sink(m_out);
  ContainerWriter writer(sink, output, &m_lock, &queue);
  writer.WriteHead(fileIv, material, m_password, std::strlen(m_password));
  SecureWipe(material, sizeof material);

  const uint64_t total = static_cast<uint64_t>(size);
  uint64_t remaining = total;
  ProgressStep step(m_view, total);
  ReadAhead source(m_in, total, queue);
  for (;;) {
    const uint8_t* data = nullptr;
    uint32_t got = 0;
    status = source.Next(&data, &got);
    if (status != 0) {
      writer.Settle();
      throw SystemErrorException(FailureKind::Unreadable, status, path);
    }
    if (got == 0) break;
    writer.WritePlaintext(data, got);
    remaining -= got;
    if (step.Update(total - remaining, remaining > 0)) return false;
  }
  writer.Finish();
  return true;
}

FileOutcome Encryptor::EncryptOne(const std::string& path) {
  m_outcome = FileOutcome::Done;
  m_view.StartFile(path);
  if (!PathFits(PartialPath(ContainerName(path, NamesToTry()), kPartialAttempts))) {
    Fail(FailureKind::InvalidName, 0, path);
    return m_outcome;
  }

  if (m_options.deleteSource && IsLink(path.c_str())) {
    Fail(FailureKind::SourceIsLink, 0, path);
    return m_outcome;
  }
  uint32_t status = m_in.Open(path.c_str(), FileMode::Read, Disposition::OpenExisting);
  if (status != 0) {
    Fail(InputOpenFailure(path, true, status));
    return m_outcome;
  }
  // An existing file of the container's name is refused now (or passed over for the next
  // numbered name), as creating it would be; the move into place refuses one that
  // appears meanwhile.
  unsigned n = 1;
  status = MoveRefusal(ContainerName(path, n).c_str(), Replacing::Never);
  while (status == FileExistsError() && n < NamesToTry())
    status = MoveRefusal(ContainerName(path, ++n).c_str(), Replacing::Never);
  OutputFile output(ContainerName(path, n));
  if (status == 0) status = output.Create(m_out);
  TellReclaimed(output, m_ui);
  if (status != 0) {
    m_in.Close();
    if (output.AllNamesTaken())
      Fail(FailureKind::PartialNamesTaken, 0, PartialPath(output.FinalPath(), 1));
    else
      Fail(FailureKind::OutputNotOpened, status, output.FinalPath());
    return m_outcome;
  }

  try {
    if (!WriteContainer(path, output.FinalPath())) m_outcome = FileOutcome::Cancelled;  // no message
  } catch (const SystemErrorException& e) {
    Fail(e.m_failure);
  }
  // The container takes its file's permissions; it stays open (its writer's) until it is
  // in place.
  if (!m_out.Flush()) Fail(FailureKind::WriteFailed, LastSystemError(), output.FinalPath());
  if (m_outcome == FileOutcome::Done) {
    status = m_out.TakePermissionsOf(m_in, false);
    if (status != 0) Fail(FailureKind::OutputNotOpened, status, output.FinalPath());
  }
  m_in.Close();
  if (m_outcome == FileOutcome::Done) {
    status = output.PutInPlace(Replacing::Never);
    while (status == FileExistsError() && n < NamesToTry()) status = output.PutInPlaceAs(ContainerName(path, ++n));
    if (status != 0) Fail(FailureKind::OutputNotOpened, status, output.FinalPath());
  }
  m_out.Close();
  if (m_outcome != FileOutcome::Done) return m_outcome;  // output's destructor removes it
  if (m_options.deleteSource) {
    status = RemoveSource(path);
    if (status != 0) Fail(FailureKind::SourceNotDeleted, status, path);
  }
  return m_outcome;
}

}  // namespace

JobOutcome EncryptFiles(Lock& keyScheduleLock, FileList& files, char* password, const EncryptOptions& options,
                        FrontEnd& ui, RandomSource* random) {
  ScopedWipe wipePassword(password, 256);
  JobOutcome outcome(files.Count(), FileOutcome::NotStarted);
  std::unique_ptr<ProgressView> view = ui.OpenProgress(OPERATION_ENCRYPT);
  SystemRandomSource systemRandom;
  RandomSource& source = random ? *random : systemRandom;
  Encryptor encryptor(keyScheduleLock, password, options, ui, *view, source);
  // The provider is released on every path, also when files are left in the list.
  struct Release {
    RandomSource& r;
    ~Release() { r.Release(); }
  } release{source};
  if (!source.Acquire()) {
    encryptor.Fail(FailureKind::NoCryptoProvider, 0, "");
    return outcome;
  }
  for (FileOutcome& result : outcome) {
    result = encryptor.EncryptOne(files.Front());
    files.RemoveFront();
    if (result == FileOutcome::Cancelled || (result == FileOutcome::Failed && !options.continuePastFailures)) break;
  }
  return outcome;
}
