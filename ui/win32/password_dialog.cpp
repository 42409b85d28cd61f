#include "ui/win32/password_dialog.h"

#include <cstring>

#include "container/front_end.h"
#include "crypto/secure.h"
#include "platform/codepage.h"
#include "platform/wide_win32.h"
#include "resources/resource.h"
#include "ui/viewer_text.h"

PasswordDialog::PasswordDialog(HWND parent) : Dialog(IDD_PASSWORD, parent) {
  std::memset(m_password, 0, sizeof m_password);
}

BOOL PasswordDialog::OnInitDialog() {
  Dialog::OnInitDialog();
  SetFocus(GetDlgItem(m_hWnd, IDC_PASSWORD_EDIT));
  // Left to the system as well: its first tab stop is the same edit.
  return TRUE;
}

namespace {

// All that was typed into an edit, as UTF-8; the window's copies are the toolkit's.
std::string TypedText(HWND dialog, int id) {
  const HWND edit = GetDlgItem(dialog, id);
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(edit, &text[0], static_cast<int>(text.size()))));
  std::string typed = Utf8(text);
  if (!text.empty()) SecureZeroMemory(&text[0], text.size() * sizeof(wchar_t));
  return typed;
}

void Wipe(std::string& text) {
  if (!text.empty()) SecureWipe(&text[0], text.size());
}

// Puts the first 11 bytes of typed's ANSI code page form (never half a character) into
// password and wipes typed; false when nothing the code page holds was typed.
bool Take(std::string& typed, char (&password)[13]) {
  std::string taken = TypedPasswordBytes(typed, kPromptPasswordBytes);
  std::memset(password, 0, sizeof password);
  std::memcpy(password, taken.data(), taken.size());
  Wipe(taken);
  Wipe(typed);
  return password[0] != '\0';
}

}  // namespace

void PasswordDialog::OnOK() {
  // The edit has no limit of its own: all that was typed is read in Unicode, and the
  // first 11 bytes of its ANSI code page form are taken, never half a character.
  std::string typed = TypedText(m_hWnd, IDC_PASSWORD_EDIT);
  if (typed.empty()) return;  // nothing typed: the dialog stays open
  m_cp949Form = Cp949PasswordBytes(typed, kPromptPasswordBytes);
  if (!Take(typed, m_password)) return;  // nothing the code page can hold
  if (m_cp949Form == m_password) m_cp949Form.clear();
  Dialog::OnOK();
}

PasswordDialog::~PasswordDialog() {
  SecureWipe(m_password, sizeof m_password);
  if (!m_cp949Form.empty()) SecureWipe(&m_cp949Form[0], m_cp949Form.size());
}

NewPasswordDialog::NewPasswordDialog(HWND parent) : Dialog(IDD_NEW_PASSWORD, parent) {
  std::memset(m_password, 0, sizeof m_password);
}

NewPasswordDialog::~NewPasswordDialog() { SecureWipe(m_password, sizeof m_password); }

BOOL NewPasswordDialog::OnInitDialog() {
  Dialog::OnInitDialog();
  SetFocus(GetDlgItem(m_hWnd, IDC_PASSWORD_EDIT));
  return TRUE;
}

void NewPasswordDialog::OnOK() {
  std::string typed = TypedText(m_hWnd, IDC_PASSWORD_EDIT);
  std::string again = TypedText(m_hWnd, IDC_PASSWORD_CONFIRM);
  const bool empty = typed.empty(), same = typed == again;
  Wipe(again);
  if (empty) return;  // nothing typed: the dialog stays open
  if (!same) {
    Wipe(typed);
    MessageBoxW(m_hWnd, Wide(Tr(kPasswordsDiffer)).c_str(), Wide(Tr(kViewerCaption)).c_str(), MB_OK | MB_ICONWARNING);
    SetDlgItemTextW(m_hWnd, IDC_PASSWORD_EDIT, L"");
    SetDlgItemTextW(m_hWnd, IDC_PASSWORD_CONFIRM, L"");
    SetFocus(GetDlgItem(m_hWnd, IDC_PASSWORD_EDIT));
    return;
  }
  if (!Take(typed, m_password)) return;  // nothing the code page can hold
  Dialog::OnOK();
}
