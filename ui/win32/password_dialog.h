#pragma once
// The password prompts. Each hands on all that was typed, as UTF-8: which bytes it stands
// for is the password rule's, not the prompt's. OK is ignored while the field is empty.

#include <string>

#include "ui/win32/dialog.h"

// Template 1027.
class PasswordDialog : public Dialog {
 public:
  explicit PasswordDialog(HWND parent = nullptr);
  ~PasswordDialog() override;  // wipes m_typed

  // After DoModal returned IDOK: what was typed, never empty.
  std::string m_typed;

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange() override {}
  void OnOK() override;
};

// The encryption road's prompt (template 1028): the password and its confirmation, and
// a line that says what counts of what is typed, kept up to date while it is typed. OK
// with an empty password does nothing; with two different entries it says so, empties
// both fields and asks again.
class NewPasswordDialog : public Dialog {
 public:
  explicit NewPasswordDialog(HWND parent = nullptr);
  ~NewPasswordDialog() override;  // wipes m_typed

  // After DoModal returned IDOK: what was typed (twice), never empty.
  std::string m_typed;

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override;
  BOOL OnControlCommand(WORD id, WORD code) override;

 private:
  void ShowHint();
};
