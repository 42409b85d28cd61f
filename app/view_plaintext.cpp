#include "app/view_plaintext.h"

#include <shellapi.h>

#include "app/viewer_text.h"
#include "platform/thread.h"

namespace {

// How long the road without a process handle waits for the launched program's window to
// take the focus before it deletes the file anyway.
constexpr DWORD kActivationWaitMs = 30000;

void ClearAttributesAndDelete(const char* path) {
  SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(path);
}

}  // namespace

LaunchResult OpenWithAssociatedProgram(const char* file, const char* verb, int showCommand, bool wait,
                                       const char* parameters) {
  SHELLEXECUTEINFOA request = {};
  request.cbSize = sizeof request;
  request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT | SEE_MASK_FLAG_NO_UI;  // 0x540
  request.hwnd = nullptr;
  request.lpVerb = verb;
  request.lpFile = file;
  request.lpParameters = parameters;
  request.lpDirectory = nullptr;
  request.nShow = showCommand;
  request.hInstApp = GetModuleHandleA(nullptr);
  if (!ShellExecuteExA(&request)) return Failed;
  // No handle makes the wait fail at once, as the shell call then gave no process.
  if (wait) WaitServingMessages(reinterpret_cast<ThreadHandle>(request.hProcess), nullptr);
  if (!request.hProcess) return NoProcess;
  CloseHandle(request.hProcess);
  return ProcessEnded;
}

bool IsFileInUse(const char* path) {
  // A read-only file refuses to be opened for writing on Windows for every user; a
  // process the system lets through anyway (an administrator under Wine) must see it the
  // same way.
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return true;
  HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return false;
  }
  return GetLastError() != ERROR_FILE_NOT_FOUND;
}

void DrainMessages() {
  const DWORD deadline = GetTickCount() + 1000;
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    if (static_cast<LONG>(GetTickCount() - deadline) > 0) break;
  }
}

void ViewPlaintext(const char* path) {
  const HWND active = GetActiveWindow();
  switch (OpenWithAssociatedProgram(path, "open", SW_SHOW, true, nullptr)) {
    case ProcessEnded:
      for (int i = 0; i < 20; ++i) {
        if (IsFileInUse(path)) break;
        Sleep(500);
      }
      SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
      while (IsFileInUse(path)) Sleep(1000);
      ClearAttributesAndDelete(path);
      break;
    case Failed:
      ClearAttributesAndDelete(path);
      MessageBoxA(nullptr, kNoAssociatedProgram, kViewerCaption, MB_OK | MB_ICONERROR | MB_TOPMOST);
      break;
    case NoProcess: {
      // The document went to a program some other way: wait (bounded, without spinning)
      // until that program's window takes the focus, probe the file once, delete it.
      const DWORD start = GetTickCount();
      while (GetActiveWindow() == active && GetTickCount() - start < kActivationWaitMs) {
        DrainMessages();
        Sleep(50);
      }
      HANDLE h = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      if (h == INVALID_HANDLE_VALUE)
        DrainMessages();
      else
        CloseHandle(h);
      ClearAttributesAndDelete(path);
      break;
    }
  }
}
