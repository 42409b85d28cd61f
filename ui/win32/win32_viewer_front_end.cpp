#include "ui/win32/win32_viewer_front_end.h"

#include <shellapi.h>

#include <cstring>

#include "association/file_type_access.h"
#include "crypto/secure.h"
#include "platform/wide_win32.h"
#include "platform/thread.h"
#include "ui/win32/error_box.h"
#include "ui/win32/password_dialog.h"

LaunchResult OpenWithAssociatedProgram(const char* file, const char* verb, int showCommand, bool wait,
                                       const char* parameters) {
  const std::wstring wideFile = Wide(file), wideVerb = Wide(verb), wideParameters = Wide(parameters ? parameters : "");
  SHELLEXECUTEINFOW request = {};
  request.cbSize = sizeof request;
  request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT | SEE_MASK_FLAG_NO_UI;  // 0x540
  request.hwnd = nullptr;
  request.lpVerb = wideVerb.c_str();
  request.lpFile = wideFile.c_str();
  request.lpParameters = parameters ? wideParameters.c_str() : nullptr;
  request.lpDirectory = nullptr;
  request.nShow = showCommand;
  request.hInstApp = GetModuleHandleW(nullptr);
  if (!ShellExecuteExW(&request)) return Failed;
  // No handle makes the wait fail at once, as the shell call then gave no process.
  if (wait) WaitServingMessages(reinterpret_cast<ThreadHandle>(request.hProcess), nullptr);
  if (!request.hProcess) return NoProcess;
  CloseHandle(request.hProcess);
  return ProcessEnded;
}

void DrainMessages() {
  const DWORD deadline = GetTickCount() + 1000;
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    if (static_cast<LONG>(GetTickCount() - deadline) > 0) break;
  }
}

bool Win32ViewerFrontEnd::AskPassword(std::string* typed) {
  PasswordDialog prompt;
  if (prompt.DoModal() != IDOK) return false;
  typed->swap(prompt.m_typed);
  return true;
}

bool Win32ViewerFrontEnd::AskNewPassword(std::string* typed) {
  NewPasswordDialog prompt;
  if (prompt.DoModal() != IDOK) return false;
  typed->swap(prompt.m_typed);
  return true;
}

void Win32ViewerFrontEnd::ShowViewerError(const char* message) { ShowViewerErrorBox(message); }
void Win32ViewerFrontEnd::ShowViewerNotice(const char* message) { ShowViewerErrorBox(message, true); }

LaunchResult Win32ViewerFrontEnd::OpenPlaintext(const char* path) {
  return OpenWithAssociatedProgram(path, "open", SW_SHOW, true, nullptr);
}

void Win32ViewerFrontEnd::ServeFor(unsigned ms) {
  const DWORD start = GetTickCount();
  do {
    DrainMessages();
    Sleep(ms < 50 ? ms : 50);
  } while (GetTickCount() - start < ms);
}

bool Win32ViewerFrontEnd::RegisterFileType() {
  ::RegisterFileType();
  return true;
}

bool Win32ViewerFrontEnd::UnregisterFileType() {
  ::UnregisterFileType();
  return true;
}
