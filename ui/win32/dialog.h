#pragma once
// Windows only. A small dialog class over the Win32 dialog manager, standing in for a framework's:
// a dialog built from a resource template, shown modally (DoModal) or modelessly
// (Create), with virtual hooks for initialisation, OK and Cancel.

#include <windows.h>

class Dialog {
 public:
  Dialog(UINT templateId, HWND parent) : m_templateId(templateId), m_parent(parent) {}
  virtual ~Dialog();
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Modal: returns the value given to EndDialog (IDOK, IDCANCEL), or -1 on failure.
  INT_PTR DoModal();
  // Modeless: builds the (hidden unless WS_VISIBLE) window and runs OnInitDialog.
  bool Create();
  void DestroyWindow();
  HWND Handle() const { return m_hWnd; }

 protected:
  // Return TRUE to let the system set the focus to the first tab stop.
  virtual BOOL OnInitDialog() { return TRUE; }
  virtual void DoDataExchange() {}
  // Defaults end a modal dialog with IDOK / IDCANCEL.
  virtual void OnOK();
  virtual void OnCancel();
  // The session is ending (log-off, shut-down): the process may be ended soon after.
  virtual void OnSessionEnding() {}
  // A control's notification other than a button's click (EN_CHANGE of an edit, for
  // one); TRUE when handled.
  virtual BOOL OnControlCommand(WORD /*id*/, WORD /*code*/) { return FALSE; }
  void EndDialog(INT_PTR result);

  // Scale. The dialog manager lays out and scales the template (positions, sizes, its
  // font) for the window's DPI, and again when a per-monitor aware window moves to a
  // display of another scale. What a dialog makes itself, such as a font, follows Dpi():
  // the DPI of the window's display where the system scales each display, else the
  // system's. OnDpiChanged is called with the new DPI when the window moved; a control
  // given to KeepOwnFont keeps the font the dialog sets on it instead of getting the
  // template's back.
  UINT Dpi() const;
  virtual void OnDpiChanged(UINT /*dpi*/) {}
  void KeepOwnFont(int id);

  HWND m_hWnd = nullptr;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

  UINT m_templateId;
  HWND m_parent;
  bool m_modal = false;
};
