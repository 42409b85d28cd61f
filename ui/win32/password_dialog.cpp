#include "ui/win32/password_dialog.h"

#include "container/password_rule.h"
#include "crypto/secure.h"
#include "platform/wide_win32.h"
#include "resources/resource.h"
#include "ui/viewer_text.h"

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

}  // namespace

PasswordDialog::PasswordDialog(HWND parent) : Dialog(IDD_PASSWORD, parent) {}

PasswordDialog::~PasswordDialog() { Wipe(m_typed); }

BOOL PasswordDialog::OnInitDialog() {
  Dialog::OnInitDialog();
  SetFocus(GetDlgItem(m_hWnd, IDC_PASSWORD_EDIT));
  // Left to the system as well: its first tab stop is the same edit.
  return TRUE;
}

void PasswordDialog::OnOK() {
  // The edit has no limit of its own: all that was typed is read in Unicode.
  std::string typed = TypedText(m_hWnd, IDC_PASSWORD_EDIT);
  if (typed.empty()) return;  // nothing typed: the dialog stays open
  Wipe(m_typed);
  m_typed.swap(typed);
  Dialog::OnOK();
}

NewPasswordDialog::NewPasswordDialog(HWND parent) : Dialog(IDD_NEW_PASSWORD, parent) {}

NewPasswordDialog::~NewPasswordDialog() { Wipe(m_typed); }

BOOL NewPasswordDialog::OnInitDialog() {
  Dialog::OnInitDialog();
  ShowHint();
  SetFocus(GetDlgItem(m_hWnd, IDC_PASSWORD_EDIT));
  return TRUE;
}

void NewPasswordDialog::ShowHint() {
  std::string typed = TypedText(m_hWnd, IDC_PASSWORD_EDIT);
  SetDlgItemTextW(m_hWnd, IDC_PASSWORD_HINT, Wide(NewPasswordHint(typed)).c_str());
  Wipe(typed);
}

BOOL NewPasswordDialog::OnControlCommand(WORD id, WORD code) {
  if (id != IDC_PASSWORD_EDIT || code != EN_CHANGE) return FALSE;
  ShowHint();
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
  Wipe(m_typed);
  m_typed.swap(typed);
  Dialog::OnOK();
}
