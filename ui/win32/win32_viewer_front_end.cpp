#include "ui/win32/win32_viewer_front_end.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <cstring>

#include "association/file_type_access.h"
#include "crypto/secure.h"
#include "platform/wide_win32.h"
#include "platform/thread.h"
#include "ui/win32/error_box.h"
#include "ui/win32/password_dialog.h"
#include "ui/win32/view_questions.h"

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

LaunchResult Win32ViewerFrontEnd::OpenPlaintext(const char* path, OpenWatch*) {
  return OpenWithAssociatedProgram(path, "open", SW_SHOW, true, nullptr);
}

bool IsCodeExtension(const std::wstring& extension) {
  static const wchar_t* const kCode[] = {
      L".exe", L".com", L".bat", L".cmd", L".scr", L".pif", L".cpl", L".msi", L".msp", L".mst", L".js",  L".jse",
      L".vbs", L".vbe", L".wsf", L".wsh", L".wsc", L".hta", L".lnk", L".url", L".ps1", L".psm1", L".reg", L".inf",
      L".jar", L".scf", L".application", L".appref-ms", L".gadget", L".msc", L".settingcontent-ms", L".library-ms"};
  for (const wchar_t* code : kCode)
    if (CompareStringOrdinal(extension.c_str(), -1, code, -1, TRUE) == CSTR_EQUAL) return true;
  return false;
}

HandOverPlan Win32ViewerFrontEnd::PlanHandOver(const char* path) {
  const std::wstring wide = Wide(path);
  const std::wstring extension = PathFindExtensionW(wide.c_str());
  HandOverPlan plan;
  plan.dangerous = !extension.empty() && (AssocIsDangerous(extension.c_str()) || IsCodeExtension(extension));
  wchar_t name[256] = {};
  DWORD size = ARRAYSIZE(name);
  std::string typeName;
  if (!extension.empty() &&
      SUCCEEDED(AssocQueryStringW(ASSOCF_INIT_IGNOREUNKNOWN, ASSOCSTR_FRIENDLYDOCNAME, extension.c_str(), nullptr,
                                  name, &size)) &&
      name[0] != L'\0')
    typeName = Utf8(name);
  const std::string dotted = Utf8(extension.c_str());
  plan.typeName = typeName.empty() ? dotted : dotted.empty() ? typeName : typeName + ", " + dotted;
  return plan;
}

bool Win32ViewerFrontEnd::AskOpenDangerous(const std::string& name, const std::string& typeName) {
  return AskOpenDangerousType(name, typeName);
}

EditChoice Win32ViewerFrontEnd::AskAboutEdit(const std::string& name, const std::string& container, bool changed,
                                             bool canSaveBack) {
  return AskAboutEditedFile(name, container, changed, canSaveBack);
}

InUseAnswer Win32ViewerFrontEnd::WaitWithInUseNotice(const std::string& name,
                                                     const std::function<bool()>& released) {
  return ShowInUseNotice(name, released);
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
