#include "app/plaintext_edits.h"

#include <vector>

#include "container/format.h"
#include "container/io.h"
#include "container/naming.h"
#include "container/system_error_exception.h"
#include "container/output_file.h"
#include "platform/file_handle.h"
#include "platform/file_ops.h"
#include "platform/system_error.h"

const uint32_t kSaveBackFailed = 0xFFFFFFFEu;

namespace {

// The folder a path is in, with its separator ("" for a bare name).
std::string FolderOf(const std::string& path) {
  const size_t at = path.find_last_of(kPathSeparator == '\\' ? "\\/" : "/");
  return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

// Copies the file at from into output's new temporary file and closes it (flushed).
uint32_t CopyInto(const std::string& from, OutputFile& output) {
  FileHandle source, target;
  uint32_t status = source.Open(from.c_str(), FileMode::Read, Disposition::OpenExisting);
  if (status != 0) return status;
  status = output.Create(target);
  if (status != 0) return status;
  std::vector<char> buffer(1 << 20);
  for (;;) {
    uint32_t got = 0, written = 0;
    status = source.Read(buffer.data(), static_cast<uint32_t>(buffer.size()), &got);
    if (status != 0 || got == 0) break;
    status = target.Write(buffer.data(), got, &written);
    if (status == 0 && written != got) status = DiskFullError();
    if (status != 0) break;
  }
  const uint32_t closed = target.Close();
  return status != 0 ? status : closed;
}

// The candidate that opens container's key block; the first it is tried with where none
// does or it cannot tell (version 0, whose every candidate opens it alike for whoever
// types the same text).
// Added to *opening, which wipes it when it goes.
void AddOpeningPassword(const std::string& container, const PasswordCandidates& passwords,
                        PasswordCandidates* opening) {
  const PasswordCandidates candidates = CandidatesForContainer(container, passwords);
  if (candidates.Empty()) {
    opening->Add(std::string());
    return;
  }
  size_t which = 0;
  FileHandle file;
  if (file.Open(container.c_str(), FileMode::Read, Disposition::OpenExisting) == 0) {
    FileSource source(file);
    try {
      if (CheckPassword(source, container, candidates, &which) != PasswordCheck::Opens) which = 0;
    } catch (const SystemErrorException&) {
      which = 0;
    }
  }
  opening->Add(candidates[which]);
}

}  // namespace

uint32_t SaveBackIntoContainer(JobRunner& jobs, const PrivateFolder& folder, const std::string& name,
                               const std::string& container, const PasswordCandidates& passwords) {
  const std::string edited = folder.PathOf(name);
  PasswordCandidates password;
  AddOpeningPassword(container, passwords, &password);
  const bool passwordGiven = !password[0].empty();
  // The container the engine makes beside the edited file; a name taken there is the
  // engine's failure to report.
  const std::string made = edited + "." + ChooseEncryptedExtension(edited.c_str(), passwordGiven);
  const uint32_t refusal = MoveRefusal(container.c_str(), Replacing::Writable);
  if (refusal != 0) return refusal;

  FileList* files = new FileList;
  files->Append(edited);
  JobOptions options;
  options.encrypt = true;
  const JobOutcome outcome = jobs.RunJob(files, options, password);  // keyed with the first
  if (outcome.empty() || outcome[0] != FileOutcome::Done) return kSaveBackFailed;

  const std::string madeName = made.substr(folder.PathOf("").size());
  OutputFile output(container);
  uint32_t status = CopyInto(made, output);
  if (status == 0) status = output.PutInPlace(Replacing::Writable);
  folder.Remove(madeName);
  if (status != 0) return status;
  folder.Remove(name);
  return 0;
}

uint32_t KeepBesideContainer(const PrivateFolder& folder, const std::string& name, const std::string& container,
                             std::string* kept) {
  const std::string wanted = FolderOf(container) + name;
  OutputFile output(wanted);
  uint32_t status = CopyInto(folder.PathOf(name), output);
  if (status != 0) return status;
  for (unsigned n = 1; n <= kNumberedAttempts; ++n) {
    status = output.PutInPlaceAs(NumberedName(wanted, n));
    if (status == 0) {
      *kept = output.FinalPath();
      CopyOriginMark(container, *kept);
      folder.Remove(name);
      return 0;
    }
    if (status != FileExistsError()) return status;
  }
  return status;
}
