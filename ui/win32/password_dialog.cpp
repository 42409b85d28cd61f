#include "ui/win32/password_dialog.h"

#include <cstring>

#include "crypto/secure.h"
#include "resources/resource.h"

PasswordDialog::PasswordDialog(HWND parent) : Dialog(IDD_PASSWORD, parent) {
  std::memset(m_password, 0, sizeof m_password);
}

BOOL PasswordDialog::OnInitDialog() {
  Dialog::OnInitDialog();
  SetFocus(GetDlgItem(m_hWnd, IDC_PASSWORD_EDIT));
  // Left to the system as well: its first tab stop is the same edit.
  return TRUE;
}

void PasswordDialog::OnOK() {
  // The edit has no limit of its own: a buffer of 12 takes the first 11 bytes and the
  // terminator, whatever was typed.
  char text[12] = {};
  ScopedWipe wipe(text, sizeof text);
  GetDlgItemTextA(m_hWnd, IDC_PASSWORD_EDIT, text, sizeof text);
  if (text[0] == '\0') return;  // nothing typed: the dialog stays open
  std::memcpy(m_password, text, std::strlen(text) + 1);
  Dialog::OnOK();
}
