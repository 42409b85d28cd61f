#include "app/viewer_app.h"

#include <cstring>
#include <string>

#include "app/command_line.h"
#include "app/stale_plaintexts.h"
#include "app/view_plaintext.h"
#include "container/naming.h"
#include "container/password_choice.h"
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

// One box's text for the files that could not be encrypted, each with its reason.
std::string FailureList(const std::vector<std::string>& failures) {
  std::string text = Tr(kEncryptionFailures);
  for (const std::string& failure : failures) text += "\r\n\r\n" + failure;
  return text;
}

}  // namespace

void ChoosePasswordForm(const FileList& files, char (&password)[kPromptPasswordSize], std::string& cp949Form) {
  const std::vector<std::string> paths(files.begin(), files.end());
  if (!cp949Form.empty() && cp949Form.size() < sizeof password &&
      AlternateOpensFirstContainer(paths, password, std::strlen(password), cp949Form.data(), cp949Form.size())) {
    std::memset(password, 0, sizeof password);
    std::memcpy(password, cp949Form.data(), cp949Form.size());
  }
  if (!cp949Form.empty()) SecureWipe(&cp949Form[0], cp949Form.size());
  cp949Form.clear();
}

ViewerApp::ViewerApp(ViewerFrontEnd& ui) : m_ui(ui), m_jobRunner(ui.JobFrontEnd()) {}

void ViewerApp::RegisterFileType() {
  if (!m_ui.RegisterFileType()) m_exitStatus = 1;
}
void ViewerApp::UnregisterFileType() {
  if (!m_ui.UnregisterFileType()) m_exitStatus = 1;
}

JobOutcome ViewerApp::DecryptFileList(FileList* files, bool toWorkingFolder, bool deleteSource, const char* password,
                                      const std::string& workingFolder) {
  JobOptions options;
  options.deleteSource = deleteSource;
  options.toWorkingFolder = toWorkingFolder;
  options.workingFolder = workingFolder;
  return m_jobRunner.RunJob(files, options, password);
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
    if (LookUpPath(argument.c_str()) == PathKind::Directory)
      failures.push_back(FailureText({FailureKind::DirectoryNotEncrypted, 0, argument}));
    else
      files->Append(argument);
  }
  if (files->Empty()) {
    delete files;
    m_ui.ShowViewerError(failures.empty() ? Tr(kNoInputFiles) : FailureList(failures).c_str());
    return false;
  }

  char password[kPromptPasswordSize] = {};
  ScopedWipe wipe(password, sizeof password);
  if (!m_ui.AskNewPassword(password)) {
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
  if (!failures.empty()) m_ui.ShowViewerError(FailureList(failures).c_str());
  m_exitStatus = failures.empty() && AllDone(outcome) ? 0 : 1;
  return false;
}

bool ViewerApp::RunDecryption(const std::vector<std::string>& arguments, bool alwaysBeside) {
  m_exitStatus = 1;
  const std::string workingFolder = WorkingFolder();
  RemoveStalePlaintexts(workingFolder);

  FileList* files = new FileList;
  for (const std::string& argument : arguments)
    if (PathExists(argument.c_str())) files->Append(argument);
  if (files->Empty()) {
    delete files;
    m_ui.ShowViewerError(Tr(kNoInputFiles));
    return false;
  }

  char password[kPromptPasswordSize] = {};
  ScopedWipe wipe(password, sizeof password);
  std::string cp949Form;
  if (!m_ui.AskPassword(password, &cp949Form)) {
    delete files;
    return false;
  }
  ChoosePasswordForm(*files, password, cp949Form);
  bool done;
  if (files->Count() == 1 && !alwaysBeside)
    done = DecryptAndView(files, password, workingFolder);
  else
    done = AllDone(DecryptFileList(files, false, false, password, workingFolder));
  m_exitStatus = done ? 0 : 1;
  return false;
}

bool ViewerApp::DecryptAndView(FileList* files, const char* password, const std::string& workingFolder) {
  // The list goes to the job runner and is destroyed there: the name is kept.
  const std::string kept = files->Front();
  std::string plaintext;
  const bool named = PlaintextPath(kept, true, workingFolder, &plaintext) == PlaintextNameProblem::None;

  // Marked before the job writes anything, so that a run starting meanwhile leaves the
  // plaintext alone; unmarked when the run ends, once the plaintext is gone. A run that
  // cannot mark it goes on unmarked: a run starting while its program shows the file
  // may then remove it.
  LockFile mark;
  if (named) {
    CreateFolder(workingFolder.c_str());
    mark.Hold(LockFileFor(plaintext).c_str());
  }
  const JobOutcome outcome = DecryptFileList(files, true, false, password, workingFolder);
  // Only what this run decrypted is shown (and then deleted): a file of that name may be
  // another run's, or older than this run.
  if (!named || outcome.empty() || outcome[0] != FileOutcome::Done) return false;
  return ViewPlaintext(plaintext.c_str(), m_ui);
}
