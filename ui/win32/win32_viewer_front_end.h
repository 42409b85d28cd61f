#pragma once
// Windows only. The viewer run's desktop on Windows: the password prompt (template 1027),
// the run's own boxes, the shell's "open" of the plaintext with the wait for the program
// it starts, the registry association, and the job's progress dialog and error boxes.

#include <windows.h>

#include <string>

#include "ui/viewer_front_end.h"
#include "ui/win32/win32_front_end.h"

class Win32ViewerFrontEnd : public ViewerFrontEnd {
 public:
  FrontEnd& JobFrontEnd() override { return m_jobs; }
  bool AskPassword(std::string* typed) override;
  bool AskNewPassword(std::string* typed) override;
  void ShowViewerError(const char* message) override;
  void ShowViewerNotice(const char* message) override;
  // ShellExecuteExW "open", SW_SHOW, waiting for the process.
  LaunchResult OpenPlaintext(const char* path, OpenWatch* watch) override;
  // Dangerous: what AssocIsDangerous calls so, and the types that run code which it may
  // not know (IsCodeExtension); the type's name is the system's friendly name for it.
  HandOverPlan PlanHandOver(const char* path) override;
  bool AskOpenDangerous(const std::string& name, const std::string& typeName) override;
  EditChoice AskAboutEdit(const std::string& name, const std::string& container, bool changed,
                          bool canSaveBack) override;
  InUseAnswer WaitWithInUseNotice(const std::string& name, const std::function<bool()>& released) override;
  // The thread's messages dispatched between short sleeps.
  void ServeFor(unsigned ms) override;
  // The registry's failures are not reported (the association's own rule): true.
  bool RegisterFileType() override;
  bool UnregisterFileType() override;

 private:
  Win32FrontEnd m_jobs;
};

// The shell's execute call for file with verb: mask 0x540 (keep the process handle, wait
// for a DDE conversation, no error UI of the shell's own), no owner, no working folder.
// With wait set and a process handle given, waits until that process has ended,
// dispatching the thread's messages meanwhile.
LaunchResult OpenWithAssociatedProgram(const char* file, const char* verb, int showCommand, bool wait,
                                       const char* parameters);

// Whether a file name's extension (".bat", any case) is of a type that runs code when
// opened, by the viewer's own list (for systems whose AssocIsDangerous lacks some).
bool IsCodeExtension(const std::wstring& extension);

// Dispatches the calling thread's waiting messages for at most about a second.
void DrainMessages();
