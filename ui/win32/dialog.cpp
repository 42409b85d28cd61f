#include "ui/win32/dialog.h"

#include "platform/resources_win32.h"

// Unicode windows throughout: the texts read the same on every Windows locale. The
// object travels to the dialog procedure as the creation parameter of WM_INITDIALOG
// and is kept in DWLP_USER from then on. Messages that arrive before WM_INITDIALOG
// (WM_SETFONT and the creation messages) find no object and get the default handling.
// WM_NCDESTROY detaches the object, so a window destroyed by anyone (the dialog manager
// after EndDialog, DestroyWindow, the end of the thread) leaves m_hWnd null.

namespace {

// Calls of Windows 10 looked up at run time; null on older systems, where the system DPI
// is every window's DPI and windows are never rescaled.
template <typename Function>
Function User32Call(const char* name) {
  const FARPROC address = GetProcAddress(GetModuleHandleW(L"user32.dll"), name);
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

}  // namespace

UINT Dialog::Dpi() const {
  static const auto getDpiForWindow = User32Call<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
  if (getDpiForWindow && m_hWnd) {
    if (const UINT dpi = getDpiForWindow(m_hWnd)) return dpi;
  }
  const HDC dc = GetDC(m_hWnd);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(m_hWnd, dc);
  return static_cast<UINT>(dpi);
}

void Dialog::KeepOwnFont(int id) {
  // DCDC_DISABLE_FONTUPDATE: the dialog manager leaves the control's font alone on a DPI
  // change.
  constexpr int kDisableFontUpdate = 1;
  static const auto setBehavior =
      User32Call<BOOL(WINAPI*)(HWND, int, int)>("SetDialogControlDpiChangeBehavior");
  if (!setBehavior) return;
  if (HWND control = GetDlgItem(m_hWnd, id)) setBehavior(control, kDisableFontUpdate, kDisableFontUpdate);
}

Dialog::~Dialog() {
  if (m_hWnd && !m_modal) {
    // No hook may run into a half-destroyed object while the window goes.
    SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
    ::DestroyWindow(m_hWnd);
    m_hWnd = nullptr;
  }
}

INT_PTR Dialog::DoModal() {
  if (m_hWnd) return -1;
  m_modal = true;
  const DLGTEMPLATE* layout = DialogTemplate(m_templateId);
  if (!layout) return -1;
  const INT_PTR result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), layout, m_parent, &Dialog::DialogProc,
                                                 reinterpret_cast<LPARAM>(this));
  m_modal = false;
  m_hWnd = nullptr;
  return result;
}

bool Dialog::Create() {
  if (m_hWnd) return false;
  m_modal = false;
  const DLGTEMPLATE* layout = DialogTemplate(m_templateId);
  if (!layout) return false;
  const HWND hwnd = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), layout, m_parent, &Dialog::DialogProc,
                                               reinterpret_cast<LPARAM>(this));
  return hwnd != nullptr;
}

void Dialog::DestroyWindow() {
  if (m_hWnd) ::DestroyWindow(m_hWnd);  // WM_NCDESTROY clears m_hWnd
  m_hWnd = nullptr;
}

void Dialog::OnOK() { EndDialog(IDOK); }

void Dialog::OnCancel() { EndDialog(IDCANCEL); }

void Dialog::EndDialog(INT_PTR result) {
  if (!m_hWnd) return;
  if (m_modal)
    ::EndDialog(m_hWnd, result);
  else
    DestroyWindow();
}

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_INITDIALOG) {
    Dialog* self = reinterpret_cast<Dialog*>(lp);
    SetWindowLongPtrW(hwnd, DWLP_USER, lp);
    self->m_hWnd = hwnd;
    return self->OnInitDialog();
  }
  Dialog* self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (!self) return FALSE;
  switch (msg) {
    case WM_COMMAND:
      // Buttons send BN_CLICKED (0); Enter and Escape arrive the same way through the
      // dialog manager, and WM_CLOSE (the close box, Alt+F4) as IDCANCEL.
      if (HIWORD(wp) != BN_CLICKED) return self->OnControlCommand(LOWORD(wp), HIWORD(wp));
      if (LOWORD(wp) == IDOK) {
        self->OnOK();
        return TRUE;
      }
      if (LOWORD(wp) == IDCANCEL) {
        self->OnCancel();
        return TRUE;
      }
      return FALSE;
    case WM_QUERYENDSESSION:
      // Log-off or shut-down: the window lets it go ahead, after telling its owner.
      self->OnSessionEnding();
      SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_ENDSESSION:
      if (wp) self->OnSessionEnding();
      return TRUE;
    case WM_DPICHANGED:
      // The dialog manager's own handling (relayout, the template's font) follows.
      self->OnDpiChanged(HIWORD(wp));
      return FALSE;
    case WM_NCDESTROY:
      SetWindowLongPtrW(hwnd, DWLP_USER, 0);
      if (self->m_hWnd == hwnd) self->m_hWnd = nullptr;
      return FALSE;
    default:
      return FALSE;
  }
}
