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
#include "platform/text.h"
#include "platform/path.h"
#include "platform/working_folder.h"
#include "ui/viewer_text.h"

namespace {

bool AllDone(const JobOutcome& outcome) {
  for (FileOutcome file : outcome)
    if (file != FileOutcome::Done) return false;
  return true;
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

  // Any '/' in the tail selects the switch road; the text from it must be a whole switch.
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

bool ViewerApp::RunOnArguments(const std::vector<std::string>& arguments) {
  m_exitStatus = 1;
  const std::string workingFolder = WorkingFolder();
  RemoveStalePlaintexts(workingFolder);

  FileList* files = new FileList;
  for (const std::string& argument : arguments)
    if (PathExists(argument.c_str())) files->Append(argument);
  if (files->Empty()) {
    delete files;
    m_ui.ShowViewerError(kNoInputFiles);
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
  if (files->Count() == 1)
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
