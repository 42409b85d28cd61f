#pragma once
// Windows only. The progress window of one engine run (template 118): a line telling
// whether files are encrypted or decrypted, the file in work, a bar from 0 to 100 and
// Cancel. Modeless, no parent; it never closes itself: Cancel only raises m_bCancel,
// which the engine reads after each progress update, and the engine destroys it.

#include <windows.h>

#include <string>

#include "ui/win32/dialog.h"

class ProgressDialog : public Dialog {
 public:
  explicit ProgressDialog(UINT templateId);
  ~ProgressDialog() override;  // deletes the font

  bool m_bCancel;
  int m_nOperation;  // OPERATION_ENCRYPT or OPERATION_DECRYPT; set before Create
  HFONT m_hFont;  // the system's menu font at 10 points for the window's DPI

  // Shows the file in work, as it is (an "&" included), and gives the bar the same name,
  // so that assistive technology tells what is measured; both name changes are
  // announced (EVENT_OBJECT_NAMECHANGE), so a screen reader hears each new file.
  void SetFileText(const std::wstring& path);

 protected:
  BOOL OnInitDialog() override;
  void OnCancel() override;  // sets m_bCancel, nothing else: the window stays open
  // A log-off or shut-down is a Cancel: the job stops and removes its partial output
  // before the system ends the process.
  void OnSessionEnding() override { m_bCancel = true; }
  void OnDpiChanged(UINT dpi) override;  // the font made anew for the new DPI

 private:
  void SetFont(UINT dpi, BOOL redraw);
};
