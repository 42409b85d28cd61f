#include "app/viewer_app.h"

#include <cstring>
#include <string>

#include "app/command_line.h"
#include "app/stale_plaintexts.h"
#include "app/view_plaintext.h"
#include "container/folder_files.h"
#include "container/folder_rule.h"
#include "container/naming.h"
#include "container/password_choice.h"
#include "container/password_rule.h"
#include "crypto/secure.h"
#include "platform/file_ops.h"
#include "platform/lock_file.h"
#include "platform/path.h"
#include "platform/selection.h"
#include "platform/system_error.h"
#include "platform/text.h"
#include "platform/working_folder.h"
#include "ui/viewer_text.h"

namespace {

bool AllDone(const JobOutcome& outcome) {
  for (FileOutcome file : outcome)
    if (file != FileOutcome::Done) return false;
  return true;
}

// How many failures one box lists; the rest are counted.
constexpr size_t kListedFailures = 30;

// The job's windows are the desktop's own, its bar standing for the whole run when files
// are given (WholeRunProgress); its failures are kept for one list at the end (the first
// kListedFailures of them, the rest counted). Called on the job's thread; read once the
// job has ended.
class FailureCollector : public FrontEnd {
 public:
  FailureCollector(FrontEnd& windows, FolderFiles* files = nullptr) : m_windows(windows), m_files(files) {}
  std::unique_ptr<ProgressView> OpenProgress(ProgressOperation operation) override {
    std::unique_ptr<ProgressView> view = m_windows.OpenProgress(operation);
    return m_files ? WholeRunProgress(std::move(view), *m_files) : std::move(view);
  }
  void ShowErrorMessage(const std::string& message, uint32_t code) override {
    if (texts.size() < kListedFailures)
      texts.push_back(AppendSystemErrorText(message, code));
    else
      ++more;
  }
  void ServeEvents() override { m_windows.ServeEvents(); }

  std::vector<std::string> texts;
  size_t more = 0;  // failures beyond those in texts

 private:
  FrontEnd& m_windows;
  FolderFiles* m_files;
};

// One box's text: its first line, then each failure with its reason, and how many more
// there were.
std::string FailureList(const char* heading, const std::vector<std::string>& failures, size_t more = 0) {
  std::string text = Tr(heading);
  size_t listed = 0;
  for (const std::string& failure : failures) {
    if (listed++ == kListedFailures) {
      more += failures.size() - kListedFailures;
      break;
    }
    text += "\r\n\r\n" + failure;
  }
  if (more) text += "\r\n\r\n" + Format(Tr("그 밖에도 %s개가 더 있습니다."), std::to_string(more).c_str());
  return text;
}

// The end notice of a file manager's road that went well: how many files were done, what
// was selected, and what the folders' walks skipped.
std::string MadeNotice(const char* heading, size_t done, const std::vector<std::string>& selected,
                       const FolderFiles& files) {
  constexpr size_t kNamed = 10;
  std::string text = Format(Tr(heading), static_cast<unsigned>(done));
  for (size_t i = 0; i < selected.size() && i < kNamed; ++i) text += "\r\n" + selected[i];
  if (selected.size() > kNamed) text += "\r\n…";
  const std::string skipped = SkippedSummary(files.Skipped());
  if (!skipped.empty()) text += "\r\n\r\n" + Format(Tr("건너뛴 것: %s"), skipped.c_str());
  return text;
}

size_t CountDone(const JobOutcome& outcome) {
  size_t done = 0;
  for (FileOutcome file : outcome) done += file == FileOutcome::Done;
  return done;
}

bool AnyCancelled(const JobOutcome& outcome) {
  for (FileOutcome file : outcome)
    if (file == FileOutcome::Cancelled) return true;
  return false;
}

}  // namespace

ViewerApp::ViewerApp(ViewerFrontEnd& ui) : m_ui(ui), m_jobRunner(ui.JobFrontEnd()) {}

void ViewerApp::RegisterFileType() {
  if (!m_ui.RegisterFileType()) m_exitStatus = 1;
}
void ViewerApp::UnregisterFileType() {
  if (!m_ui.UnregisterFileType()) m_exitStatus = 1;
}

JobOutcome ViewerApp::DecryptFileList(FileList* files, bool toWorkingFolder, bool deleteSource,
                                      const PasswordCandidates& passwords, const std::string& workingFolder) {
  JobOptions options;
  options.deleteSource = deleteSource;
  options.toWorkingFolder = toWorkingFolder;
  options.workingFolder = workingFolder;
  return m_jobRunner.RunJob(files, options, passwords);
}

bool ViewerApp::AskOpeningPassword(const FileList& files, PasswordCandidates* passwords) {
  if (OpensWithoutPassword(std::vector<std::string>(files.begin(), files.end()))) return true;
  std::string typed;
  StringWipe wipe(typed);
  if (!m_ui.AskPassword(&typed)) return false;
  *passwords = OpeningCandidates(typed);
  return true;
}

bool ViewerApp::AskMakingPassword(PasswordCandidates* password) {
  std::string typed;
  StringWipe wipe(typed);
  for (;;) {
    if (!m_ui.AskNewPassword(&typed)) return false;
    const NewPassword made = MakingPassword(typed, kPromptPasswordBytes);
    if (made.accepted) {
      password->Add(made.bytes);
      return true;
    }
    // Nothing is written with a password that would not be what was typed.
    m_ui.ShowViewerError(NewPasswordRefusal(made).c_str());
  }
}

bool ViewerApp::RunViewer(const char* commandLine) {
  int count = 0;
  char** args = SplitCommandLine(commandLine, &count);
  if (!args) return false;
  const std::vector<std::string> arguments(args + (count > 0 ? 1 : 0), args + count);
  FreeArgumentBlock(args);

  // The file manager's verbs: a switch of their own first, then the files.
  const bool encrypt = !arguments.empty() && CompareIgnoringAsciiCase(arguments[0].c_str(), "/Encrypt") == 0;
  if (encrypt || (!arguments.empty() && CompareIgnoringAsciiCase(arguments[0].c_str(), "/DecryptHere") == 0)) {
    std::vector<std::string> files(arguments.begin() + 1, arguments.end());
    // A desktop that starts a run per selected file: one of them takes them all, and
    // tells the others when it is done with them (as this function returns).
    SelectionGathering gathering;
    if (!gathering.Gather(encrypt ? "Encrypt" : "DecryptHere", files)) {
      m_exitStatus = 0;
      return false;
    }
    return encrypt ? RunEncrypt(files) : RunDecryptHere(files);
  }

  // Any other '/' in the tail selects the switch road; the text from it must be a whole
  // switch.
  if (const char* slash = std::strchr(CommandLineTail(commandLine), '/')) {
    const bool registering = CompareIgnoringAsciiCase(slash, "/RegServer") == 0;
    const bool unregistering = CompareIgnoringAsciiCase(slash, "/UnRegServer") == 0;
    // Anything else does nothing, without a box: only the exit status tells.
    if (!registering && !unregistering) m_exitStatus = 2;
    if (registering) RegisterFileType();
    if (unregistering) UnregisterFileType();
    return false;
  }
  return RunOnArguments(arguments);
}

bool ViewerApp::RunOnArguments(const std::vector<std::string>& arguments) { return RunDecryption(arguments, false); }

bool ViewerApp::RunDecryptHere(const std::vector<std::string>& arguments) { return RunDecryption(arguments, true); }

bool ViewerApp::RunEncrypt(const std::vector<std::string>& arguments) {
  m_exitStatus = 1;
  // A folder stands for the files under it (the folder rule), walked once the password
  // is known.
  std::vector<std::string> selected;
  for (const std::string& argument : arguments) selected.push_back(AbsolutePath(argument));
  if (selected.empty()) {
    m_ui.ShowViewerError(Tr(kNoInputFiles));
    return false;
  }

  PasswordCandidates password;
  if (!AskMakingPassword(&password)) return false;
  // Every file is tried; what failed is listed once, at the end.
  FolderFiles found(FolderWork::Encrypt, selected, true);
  FailureCollector collector(m_ui.JobFrontEnd(), &found);
  FileList* files = new FileList;
  files->Follow(&found);
  JobOptions options;
  options.encrypt = true;
  options.continuePastFailures = true;
  options.numberTakenNames = true;
  options.reportTo = &collector;
  const JobOutcome outcome = m_jobRunner.RunJob(files, options, password);
  const bool failed = !collector.texts.empty();
  if (failed)
    m_ui.ShowViewerError(FailureList(kEncryptionFailures, collector.texts, collector.more).c_str());
  else if (AllDone(outcome))
    m_ui.ShowViewerNotice(MadeNotice(kEncryptedNotice, CountDone(outcome), selected, found).c_str());
  m_exitStatus = !failed && AllDone(outcome) ? 0 : 1;
  return false;
}

bool ViewerApp::RunDecryption(const std::vector<std::string>& arguments, bool decryptHere) {
  m_exitStatus = 1;
  const std::string workingFolder = WorkingFolder();
  // Opened and checked once; the roads beside the containers need it only for its clean-up.
  PrivateFolder folder;
  const bool folderUsable = PrepareWorkingFolder(workingFolder, folder, m_ui);

  // Each argument made absolute first; what can be told without the password is told
  // before anyone is asked for it.
  // Decrypt here takes folders too: each stands for the containers under it.
  std::vector<std::string> failures;
  FileList* files = new FileList;
  for (const std::string& argument : arguments) {
    const std::string path = AbsolutePath(argument);
    Failure failure{FailureKind::InputMissing, 0, path};
    if ((decryptHere && LookUpPath(path.c_str()) == PathKind::Directory) || CheckBeforePassword(path, &failure))
      files->Append(path);
    else
      failures.push_back(AppendSystemErrorText(FailureText(failure), failure.code));
  }
  if (files->Empty()) {
    delete files;
    m_ui.ShowViewerError(failures.empty() ? Tr(kNoInputFiles) : FailureList(kDecryptionFailures, failures).c_str());
    if (!failures.empty()) m_exitStatus = 2;  // nothing given could be decrypted
    return false;
  }
  // The double-click road says at once what it leaves out; Decrypt here lists it with
  // the rest of its failures at the end.
  if (!decryptHere && !failures.empty()) m_ui.ShowViewerError(FailureList(kLeftOut, failures).c_str());

  const bool viewing = !decryptHere && files->Count() == 1;
  if (viewing && !folderUsable) {
    delete files;
    m_ui.ShowViewerError(WorkingFolderRefusal(workingFolder).c_str());
    return false;
  }

  // Kept until the run ends: a changed plaintext is encrypted back with them.
  PasswordCandidates passwords;
  if (!AskOpeningPassword(*files, &passwords)) {
    delete files;
    return false;
  }
  bool done;
  if (viewing) {
    done = DecryptAndView(files, passwords, folder);
  } else if (!decryptHere) {
    // Several containers: beside themselves, the first failure ending the run.
    done = AllDone(DecryptFileList(files, false, false, passwords, workingFolder));
  } else {
    // Every container is tried; what failed is listed once, at the end.
    const std::vector<std::string> selected(files->begin(), files->end());
    delete files;
    FolderFiles found(FolderWork::Decrypt, selected, true);
    FailureCollector collector(m_ui.JobFrontEnd(), &found);
    files = new FileList;
    files->Follow(&found);
    JobOptions options;
    options.workingFolder = workingFolder;
    options.continuePastFailures = true;
    options.reportTo = &collector;
    const JobOutcome outcome = m_jobRunner.RunJob(files, options, passwords);
    failures.insert(failures.end(), collector.texts.begin(), collector.texts.end());
    done = AllDone(outcome);
    if (!failures.empty())
      m_ui.ShowViewerError(FailureList(kDecryptionFailures, failures, collector.more).c_str());
    else if (done && !AnyCancelled(outcome))
      m_ui.ShowViewerNotice(MadeNotice(kDecryptedNotice, CountDone(outcome), selected, found).c_str());
  }
  m_exitStatus = done && failures.empty() ? 0 : 1;
  return false;
}

bool ViewerApp::DecryptAndView(FileList* files, const PasswordCandidates& passwords, const PrivateFolder& folder) {
  // The list goes to the job runner and is destroyed there: the name is kept.
  const std::string kept = files->Front();
  const std::string workingFolder = folder.Path();
  std::string plaintext;
  const bool named = PlaintextPath(kept, true, workingFolder, &plaintext) == PlaintextNameProblem::None;

  // Marked before the job writes anything, so that a run starting meanwhile leaves the
  // plaintext alone; unmarked when the run ends, once the plaintext is gone. A run that
  // cannot mark it goes on unmarked: a run starting while its program shows the file
  // then finds it unrecorded, and leaves it.
  LockFile mark;
  if (named) mark.Hold(LockFileFor(plaintext).c_str());
  const JobOutcome outcome = DecryptFileList(files, true, false, passwords, workingFolder);
  // Only what this run decrypted is shown (and then deleted): a file of that name may be
  // another run's, or older than this run.
  if (!named || outcome.empty() || outcome[0] != FileOutcome::Done) return false;
  const ViewSession session{folder, plaintext.substr(workingFolder.size() + 1), kept, passwords, mark, m_jobRunner};
  return ViewPlaintext(session, m_ui);
}
