#include "app/viewer_app.h"

#include <string>

#include "app/command_line.h"
#include "app/stale_plaintexts.h"
#include "app/view_plaintext.h"
#include "container/naming.h"
#include "crypto/secure.h"
#include "platform/file_ops.h"
#include "platform/lock_file.h"
#include "platform/mbstring.h"
#include "platform/path.h"
#include "platform/working_folder.h"
#include "ui/viewer_text.h"

namespace {

std::string WorkingFolder() {
  char folder[520] = {};
  GetWorkingFolder(sizeof folder, folder);
  return folder;
}

}  // namespace

ViewerApp::ViewerApp(ViewerFrontEnd& ui) : m_ui(ui), m_jobRunner(ui.JobFrontEnd()) {}

void ViewerApp::RegisterFileType() { m_ui.RegisterFileType(); }
void ViewerApp::UnregisterFileType() { m_ui.UnregisterFileType(); }

bool ViewerApp::DecryptFileList(FileList* files, bool toWorkingFolder, bool deleteSource, const char* password) {
  m_jobRunner.RunJob(files, false, deleteSource, toWorkingFolder, password);
  return true;
}

bool ViewerApp::RunViewer(const char* commandLine) {
  int count = 0;
  char** args = SplitCommandLine(commandLine, &count);
  if (!args) return false;
  const std::vector<std::string> arguments(args + (count > 0 ? 1 : 0), args + count);
  FreeArgumentBlock(args);

  // Any '/' in the tail selects the switch road; the text from it must be a whole switch.
  if (const char* slash = MbsChr(CommandLineTail(commandLine), '/')) {
    if (MbsICmp(slash, "/RegServer") == 0) RegisterFileType();
    if (MbsICmp(slash, "/UnRegServer") == 0) UnregisterFileType();
    return false;
  }
  return RunOnArguments(arguments);
}

bool ViewerApp::RunOnArguments(const std::vector<std::string>& arguments) {
  RemoveStalePlaintexts(WorkingFolder());

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
  if (!m_ui.AskPassword(password)) {
    delete files;
    return false;
  }
  m_ui.ChoosePasswordForm(*files, password);
  if (files->Count() == 1)
    DecryptAndView(files, password);
  else
    DecryptFileList(files, false, false, password);
  return false;
}

void ViewerApp::DecryptAndView(FileList* files, const char* password) {
  // The list goes to the job runner and is destroyed there: the name is kept.
  const std::string kept = files->Front();
  std::string plaintext;
  const bool named = PlaintextPath(kept, true, &plaintext) == PlaintextNameProblem::None;

  // Marked before the job writes anything, so that a run starting meanwhile leaves the
  // plaintext alone; unmarked when the run ends, once the plaintext is gone. A run that
  // cannot mark it goes on unmarked: a run starting while its program shows the file
  // may then remove it.
  LockFile mark;
  if (named) {
    CreateFolder(WorkingFolder().c_str());
    mark.Hold(LockFileFor(plaintext).c_str());
  }
  DecryptFileList(files, true, false, password);
  if (named && PathExists(plaintext.c_str())) ViewPlaintext(plaintext.c_str(), m_ui);
}
