#pragma once
// The password prompt (template 1027): takes at most the first 11 bytes of what was
// typed, ignores OK while the field is empty.

#include "ui/win32/dialog.h"

class PasswordDialog : public Dialog {
 public:
  explicit PasswordDialog(HWND parent = nullptr);

  // After DoModal returned IDOK: the accepted password, zero-terminated, at most 11 bytes.
  char m_password[13];

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange() override {}
  void OnOK() override;
};
