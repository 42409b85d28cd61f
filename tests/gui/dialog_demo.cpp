// Tries the Windows viewer's dialogs by hand: the password prompt, then one job through
// JobRunner with the Win32 front end (progress window, error boxes).
//
//   dialog_demo [--password TEXT] [--encrypt] [--error CODE] FILE...
//
// Without --password the prompt asks for it (Cancel ends the program with 2). --error
// shows one error box for CODE instead of running a job. Decrypted files are left beside
// their containers. Exit code: 0 when the job ran, 1 on wrong usage, 2 after Cancel.

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "jobs/job_runner.h"
#include "platform/console.h"
#include "ui/win32/error_box.h"
#include "ui/win32/password_dialog.h"
#include "ui/win32/win32_front_end.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  std::string password;
  bool havePassword = false;
  bool encrypt = false;
  FileList* files = new FileList;
  const std::vector<std::string> args = ProgramArguments(0, nullptr);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--password" && i + 1 < args.size()) {
      password = args[++i];
      havePassword = true;
    } else if (arg == "--encrypt") {
      encrypt = true;
    } else if (arg == "--error" && i + 1 < args.size()) {
      ShowErrorMessage("오류 상자 시험", static_cast<uint32_t>(std::strtoul(args[++i].c_str(), nullptr, 0)));
      delete files;
      return 0;
    } else {
      files->Append(arg);
    }
  }
  if (files->Empty()) {
    MessageBoxW(nullptr, L"usage: dialog_demo [--password TEXT] [--encrypt] [--error CODE] FILE...",
                L"dialog_demo", MB_OK);
    delete files;
    return 1;
  }

  if (!havePassword) {
    PasswordDialog prompt;
    if (prompt.DoModal() != IDOK) {
      delete files;
      return 2;
    }
    password = prompt.m_typed;
  }

  Win32FrontEnd ui;
  JobRunner runner(ui);
  JobOptions options;
  options.encrypt = encrypt;
  runner.RunJob(files, options, password.c_str());
  return 0;
}
