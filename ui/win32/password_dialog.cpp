#include "ui/win32/password_dialog.h"

#include <cstring>

#include "container/front_end.h"
#include "crypto/secure.h"
#include "platform/codepage.h"
#include "platform/wide_win32.h"
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
  // The edit has no limit of its own: all that was typed is read in Unicode, and the
  // first 11 bytes of its ANSI code page form are taken, never half a character.
  const HWND edit = GetDlgItem(m_hWnd, IDC_PASSWORD_EDIT);
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(edit, &text[0], static_cast<int>(text.size()))));
  if (text.empty()) return;  // nothing typed: the dialog stays open
  std::string typed = Utf8(text);
  SecureZeroMemory(&text[0], text.size() * sizeof(wchar_t));
  std::string taken = TypedPasswordBytes(typed, kPromptPasswordBytes);
  m_cp949Form = Cp949PasswordBytes(typed, kPromptPasswordBytes);
  if (m_cp949Form == taken) m_cp949Form.clear();
  std::memset(m_password, 0, sizeof m_password);
  std::memcpy(m_password, taken.data(), taken.size());
  if (!taken.empty()) SecureWipe(&taken[0], taken.size());
  if (!typed.empty()) SecureWipe(&typed[0], typed.size());
  if (m_password[0] == '\0') return;  // nothing the code page can hold
  Dialog::OnOK();
}

PasswordDialog::~PasswordDialog() {
  SecureWipe(m_password, sizeof m_password);
  if (!m_cp949Form.empty()) SecureWipe(&m_cp949Form[0], m_cp949Form.size());
}
