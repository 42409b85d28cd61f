#pragma once
// The password prompt (template 1027): takes at most the first 11 bytes of what was
// typed (in the ANSI code page, never half a character), ignores OK while the field is
// empty.

#include <string>

#include "ui/win32/dialog.h"

class PasswordDialog : public Dialog {
 public:
  explicit PasswordDialog(HWND parent = nullptr);
  ~PasswordDialog() override;

  // After DoModal returned IDOK: the accepted password, zero-terminated, at most 11 bytes.
  char m_password[13];
  // And the same typed text's code page 949 form where it differs, else "".
  std::string m_cp949Form;

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange() override {}
  void OnOK() override;
};

// The encryption road's prompt (template 1028): the password and its confirmation. OK
// with an empty password does nothing; with two different entries it says so, empties
// both fields and asks again.
class NewPasswordDialog : public Dialog {
 public:
  explicit NewPasswordDialog(HWND parent = nullptr);
  ~NewPasswordDialog() override;

  // After DoModal returned IDOK: the password, zero-terminated, at most 11 bytes of the
  // ANSI code page form of what was typed, never half a character.
  char m_password[13];

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override;
};
