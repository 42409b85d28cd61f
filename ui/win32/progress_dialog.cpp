#include "ui/win32/progress_dialog.h"

#include <commctrl.h>

#include <cstring>

#include "container/front_end.h"
#include "platform/catalog.h"
#include "platform/wide_win32.h"
#include "resources/resource.h"

namespace {

void SetControlFont(HWND dialog, int id, HFONT font, BOOL redraw) {
  if (HWND control = GetDlgItem(dialog, id))
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), static_cast<LPARAM>(redraw));
}

// Centres a window without owner in the work area of the screen, keeping it inside.
void CenterInWorkArea(HWND hwnd) {
  RECT work;
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) {
    work.left = work.top = 0;
    work.right = GetSystemMetrics(SM_CXSCREEN);
    work.bottom = GetSystemMetrics(SM_CYSCREEN);
  }
  RECT rect;
  if (!GetWindowRect(hwnd, &rect)) return;
  const LONG width = rect.right - rect.left;
  const LONG height = rect.bottom - rect.top;
  LONG x = work.left + (work.right - work.left - width) / 2;
  LONG y = work.top + (work.bottom - work.top - height) / 2;
  if (x + width > work.right) x = work.right - width;
  if (y + height > work.bottom) y = work.bottom - height;
  if (x < work.left) x = work.left;
  if (y < work.top) y = work.top;
  SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

ProgressDialog::ProgressDialog(UINT templateId)
    : Dialog(templateId, nullptr), m_bCancel(false), m_nOperation(0), m_hFont(nullptr) {}

ProgressDialog::~ProgressDialog() {
  // The window goes before the font its controls draw with.
  DestroyWindow();
  if (m_hFont) {
    DeleteObject(m_hFont);
    m_hFont = nullptr;
  }
}

// The controls that draw with the dialog's own font; the bar and the icon keep theirs.
constexpr int kOwnFontControls[] = {IDC_PROGRESS_MESSAGE, IDCANCEL, IDC_PROGRESS_FILE};

void ProgressDialog::SetFont(UINT dpi, BOOL redraw) {
  NONCLIENTMETRICSW metrics;
  std::memset(&metrics, 0, sizeof metrics);
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  // The menu font's face and style, 10 points high at the window's DPI.
  LOGFONTW font = metrics.lfMenuFont;
  font.lfHeight = -MulDiv(10, static_cast<int>(dpi), 72);

  const HFONT old = m_hFont;
  m_hFont = CreateFontIndirectW(&font);
  SendMessageW(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(m_hFont), redraw);
  for (int id : kOwnFontControls) SetControlFont(m_hWnd, id, m_hFont, redraw);
  // No control draws with the old font any more.
  if (old) DeleteObject(old);
}

BOOL ProgressDialog::OnInitDialog() {
  Dialog::OnInitDialog();

  SetFont(Dpi(), FALSE);
  for (int id : kOwnFontControls) KeepOwnFont(id);

  CenterInWorkArea(m_hWnd);

  SetDlgItemTextW(m_hWnd, IDC_PROGRESS_MESSAGE,
                  Wide(Tr(m_nOperation == OPERATION_ENCRYPT ? N_("암호화중...") : N_("복호화중..."))).c_str());
  return TRUE;
}

void ProgressDialog::SetFileText(const std::wstring& path) {
  for (int id : {IDC_PROGRESS_FILE, IDC_PROGRESS_BAR}) {
    const HWND control = GetDlgItem(m_hWnd, id);
    if (!control) continue;
    SetWindowTextW(control, path.c_str());
    NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, control, OBJID_CLIENT, CHILDID_SELF);
  }
}

void ProgressDialog::OnDpiChanged(UINT dpi) { SetFont(dpi, TRUE); }

void ProgressDialog::OnCancel() { m_bCancel = true; }
