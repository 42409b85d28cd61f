#include "app/viewer_app.h"

#include <cstring>
#include <string>

#include "app/command_line.h"
#include "app/stale_plaintexts.h"
#include "app/view_plaintext.h"
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

// The job's windows are the desktop's own; its failures are kept for one list at the end.
// Called on the job's thread; read once the job has ended.
class FailureCollector : public FrontEnd {
 public:
  explicit FailureCollector(FrontEnd& windows) : m_windows(windows) {}
  std::unique_ptr<ProgressView> OpenProgress(ProgressOperation operation) override {
    return m_windows.OpenProgress(operation);
  }
  void ShowErrorMessage(const std::string& message, uint32_t code) override {
    texts.push_back(AppendSystemErrorText(message, code));
  }
  void ServeEvents() override { m_windows.ServeEvents(); }

  std::vector<std::string> texts;

 private:
  FrontEnd& m_windows;
};

// One box's text: its first line, then each failure with its reason.
std::string FailureList(const char* heading, const std::vector<std::string>& failures) {
  std::string text = Tr(heading);
  for (const std::string& failure : failures) text += "\r\n\r\n" + failure;
  return text;
}

// The end notice of a file manager's road that went well: how many, and which.
std::string MadeNotice(const char* heading, const std::vector<std::string>& paths) {
  constexpr size_t kNamed = 10;
  std::string text = Format(Tr(heading), static_cast<unsigned>(paths.size()));
  for (size_t i = 0; i < paths.size() && i < kNamed; ++i) text += "\r\n" + paths[i];
  if (paths.size() > kNamed) text += "\r\n…";
  return text;
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
  // A folder is refused before anything is asked (there is no recursion into one).
  std::vector<std::string> failures;
  FileList* files = new FileList;
  for (const std::string& argument : arguments) {
    const std::string path = AbsolutePath(argument);
    if (LookUpPath(path.c_str()) == PathKind::Directory)
      failures.push_back(FailureText({FailureKind::DirectoryNotEncrypted, 0, path}));
    else
      files->Append(path);
  }
  if (files->Empty()) {
    delete files;
    m_ui.ShowViewerError(failures.empty() ? Tr(kNoInputFiles) : FailureList(kEncryptionFailures, failures).c_str());
    return false;
  }
  const std::vector<std::string> paths(files->begin(), files->end());

  PasswordCandidates password;
  if (!AskMakingPassword(&password)) {
    delete files;
    return false;
  }
  // Every file is tried; what failed is listed once, at the end.
  FailureCollector collector(m_ui.JobFrontEnd());
  JobOptions options;
  options.encrypt = true;
  options.continuePastFailures = true;
  options.numberTakenNames = true;
  options.reportTo = &collector;
  const JobOutcome outcome = m_jobRunner.RunJob(files, options, password);
  failures.insert(failures.end(), collector.texts.begin(), collector.texts.end());
  if (!failures.empty())
    m_ui.ShowViewerError(FailureList(kEncryptionFailures, failures).c_str());
  else if (AllDone(outcome))
    m_ui.ShowViewerNotice(MadeNotice(kEncryptedNotice, paths).c_str());
  m_exitStatus = failures.empty() && AllDone(outcome) ? 0 : 1;
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
  std::vector<std::string> failures;
  FileList* files = new FileList;
  for (const std::string& argument : arguments) {
    const std::string path = AbsolutePath(argument);
    Failure failure{FailureKind::InputMissing, 0, path};
    if (CheckBeforePassword(path, &failure))
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
    const std::vector<std::string> paths(files->begin(), files->end());
    FailureCollector collector(m_ui.JobFrontEnd());
    JobOptions options;
    options.workingFolder = workingFolder;
    options.continuePastFailures = true;
    options.reportTo = &collector;
    const JobOutcome outcome = m_jobRunner.RunJob(files, options, passwords);
    failures.insert(failures.end(), collector.texts.begin(), collector.texts.end());
    done = AllDone(outcome);
    if (!failures.empty())
      m_ui.ShowViewerError(FailureList(kDecryptionFailures, failures).c_str());
    else if (done && !AnyCancelled(outcome))
      m_ui.ShowViewerNotice(MadeNotice(kDecryptedNotice, paths).c_str());
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
