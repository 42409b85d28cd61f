#include "ui/win32/progress_dialog.h"

#include <commctrl.h>

#include <cstddef>
#include <cstring>

#include "container/front_end.h"
#include "platform/wide_win32.h"
#include "resources/resource.h"

namespace {

// The size of the non-client metrics without iPaddedBorderWidth, which every version of
// the system accepts (the full structure is refused before Vista).
constexpr UINT kNonClientMetricsSize = offsetof(NONCLIENTMETRICSW, lfMessageFont) + sizeof(LOGFONTW);
static_assert(kNonClientMetricsSize <= sizeof(NONCLIENTMETRICSW), "metrics buffer too small");

// The bar colour used on systems before Windows 2000, whose default bar is hard to see.
constexpr COLORREF kOldSystemBarColour = 0xCC6600;

void SetControlFont(HWND dialog, int id, HFONT font) {
  if (HWND control = GetDlgItem(dialog, id)) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
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

BOOL ProgressDialog::OnInitDialog() {
  Dialog::OnInitDialog();

  NONCLIENTMETRICSW metrics;
  std::memset(&metrics, 0, sizeof metrics);
  metrics.cbSize = kNonClientMetricsSize;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, kNonClientMetricsSize, &metrics, 0);
  LOGFONTW font = metrics.lfMenuFont;

  const HDC dc = GetDC(m_hWnd);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(m_hWnd, dc);
  font.lfHeight = -MulDiv(10, dpi, 72);

  m_hFont = CreateFontIndirectW(&font);
  SendMessageW(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(m_hFont), 0);
  SetControlFont(m_hWnd, IDC_PROGRESS_MESSAGE, m_hFont);
  SetControlFont(m_hWnd, IDCANCEL, m_hFont);
  SetControlFont(m_hWnd, IDC_PROGRESS_FILE, m_hFont);

  CenterInWorkArea(m_hWnd);

  SetDlgItemTextW(m_hWnd, IDC_PROGRESS_MESSAGE,
                  Wide(m_nOperation == OPERATION_ENCRYPT ? "암호화중..." : "복호화중...").c_str());

  OSVERSIONINFOW version;
  std::memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  if (GetVersionExW(&version) && version.dwMajorVersion < 5)
    SendDlgItemMessageW(m_hWnd, IDC_PROGRESS_BAR, PBM_SETBARCOLOR, 0, static_cast<LPARAM>(kOldSystemBarColour));
  return TRUE;
}

void ProgressDialog::OnCancel() { m_bCancel = true; }
