#include "app/viewer_app.h"

#include <windows.h>

#include <cstring>

#include "app/command_line.h"
#include "app/password_dialog.h"
#include "app/view_plaintext.h"
#include "app/viewer_text.h"
#include "association/file_type_access.h"
#include "crypto/secure.h"
#include "platform/mbstring.h"
#include "platform/path.h"

// Constructed before WinMain runs, destroyed at process exit.
ViewerApp theApp;

ViewerApp::ViewerApp() : m_jobRunner(m_frontEnd) {}

void ViewerApp::RegisterFileType() { ::RegisterFileType(); }
void ViewerApp::UnregisterFileType() { ::UnregisterFileType(); }

bool ViewerApp::DecryptFileList(FileList* files, bool toWorkingFolder, bool deleteSource, const char* password) {
  m_jobRunner.RunJob(files, false, deleteSource, toWorkingFolder, password);
  return true;
}

bool ViewerApp::RunViewer() {
  const char* commandLine = GetCommandLineA();
  int count = 0;
  char** args = SplitCommandLine(commandLine, &count);
  if (!args) return false;

  // Any '/' in the tail selects the switch road; the text from it must be a whole switch.
  if (const char* slash = MbsChr(CommandLineTail(commandLine), '/')) {
    if (MbsICmp(slash, "/RegServer") == 0) RegisterFileType();
    if (MbsICmp(slash, "/UnRegServer") == 0) UnregisterFileType();
    FreeArgumentBlock(args);
    return false;
  }

  FileList* files = new FileList;
  for (int i = 1; i < count; ++i)
    if (PathExists(args[i])) files->Append(args[i]);
  if (files->Empty()) {
    delete files;
    MessageBoxA(nullptr, kNoInputFiles, kViewerCaption, MB_OK | MB_ICONERROR | MB_TOPMOST);
    FreeArgumentBlock(args);
    return false;
  }

  PasswordDialog prompt;
  if (prompt.DoModal() != IDOK) {
    delete files;
  } else if (files->Count() == 1) {
    const std::string kept = files->Front();
    DecryptFileList(files, true, false, prompt.m_password);
    char plaintext[520];
    if (PlaintextPathInWorkingFolder(kept.c_str(), plaintext) && PathExists(plaintext)) ViewPlaintext(plaintext);
  } else {
    DecryptFileList(files, false, false, prompt.m_password);
  }
  SecureWipe(prompt.m_password, sizeof prompt.m_password);
  FreeArgumentBlock(args);
  return false;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  theApp.RunViewer();
  return 0;
}
