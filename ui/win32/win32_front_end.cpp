#include "ui/win32/win32_front_end.h"

#include <windows.h>
#include <commctrl.h>

#include <memory>

#include "platform/wide_win32.h"
#include "resources/resource.h"
#include "ui/win32/error_box.h"
#include "ui/win32/progress_dialog.h"

namespace {

// Serves every queued message of the calling thread, for any of its windows, until the
// queue is empty. Deliberately not through IsDialogMessage: the dialog's keyboard
// handling is not wanted while an engine runs, a click on Cancel is enough.
void PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// The progress bar's window class must be registered before template 118 is built.
void InitProgressBarClass() {
  static const bool done = [] {
    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_PROGRESS_CLASS;
    return InitCommonControlsEx(&controls) != FALSE;
  }();
  (void)done;
}

// The engine's view of one ProgressDialog, on the engine's thread.
class DialogProgressView : public ProgressView {
 public:
  // Without its template the view has no window: it then shows nothing and is never
  // cancelled, and the engine runs on.
  explicit DialogProgressView(ProgressOperation operation)
      : m_dialog(std::make_unique<ProgressDialog>(IDD_PROGRESS)) {
    m_dialog->m_nOperation = operation;
    m_dialog->Create();
  }
  // The window first, then the object (which deletes the font).
  ~DialogProgressView() override { m_dialog->DestroyWindow(); }

  void StartFile(const std::string& path) override {
    const HWND hwnd = m_dialog->Handle();
    SendDlgItemMessageW(hwnd, IDC_PROGRESS_BAR, PBM_SETPOS, 0, 0);
    m_dialog->SetFileText(Wide(path));
    ShowWindow(hwnd, SW_SHOWNORMAL);
    UpdateWindow(hwnd);
    PumpMessages();
  }

  void ShowFile(const std::string& path) override {
    const HWND hwnd = m_dialog->Handle();
    SetDlgItemTextW(hwnd, IDC_PROGRESS_FILE, Wide(path).c_str());
    ShowWindow(hwnd, SW_SHOWNORMAL);
    UpdateWindow(hwnd);
    PumpMessages();
  }

  void SetProgress(unsigned percent) override {
    const HWND hwnd = m_dialog->Handle();
    SendDlgItemMessageW(hwnd, IDC_PROGRESS_BAR, PBM_SETPOS, percent, 0);
    UpdateWindow(hwnd);
    PumpMessages();
  }

  bool IsCancelled() override { return m_dialog->m_bCancel; }

 private:
  std::unique_ptr<ProgressDialog> m_dialog;
};

}  // namespace

std::unique_ptr<ProgressView> Win32FrontEnd::OpenProgress(ProgressOperation operation) {
  InitProgressBarClass();
  return std::make_unique<DialogProgressView>(operation);
}

void Win32FrontEnd::ShowErrorMessage(const std::string& message, uint32_t code) {
  ::ShowErrorMessage(message, code);
}
