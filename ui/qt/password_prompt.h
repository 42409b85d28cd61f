#pragma once
// The password prompt (template 1027) in Qt: its caption, icon, texts and controls, the
// typed characters masked. OK takes at most the first 11 bytes of what was typed (UTF-8,
// never half a character) and is ignored while the field is empty; Cancel and Escape end
// the dialog with Rejected.

#include <QtWidgets/QDialog>

#include <string>

#include "ui/viewer_front_end.h"

class QLineEdit;
class QPushButton;

class PasswordPrompt : public QDialog {
 public:
  // The template's texts, for the window and its tests.
  static const char kCaption[];
  static const char kPrompt[];
  static const char kLabel[];
  static const char kOk[];
  static const char kCancel[];
  static const char kOkDescription[];
  static const char kCancelDescription[];

  explicit PasswordPrompt(QWidget* parent = nullptr);
  ~PasswordPrompt() override;  // wipes both forms

  // After Accepted: the accepted password, zero-terminated, at most 11 bytes.
  char m_password[kPromptPasswordSize];
  // After Accepted: what a Korean Windows prompt would have taken for the same text, in
  // code page 949 (Cp949PasswordBytes); "" when it is the same or cannot be had.
  std::string m_cp949Form;

  QLineEdit* Field() const { return m_field; }
  QPushButton* OkButton() const { return m_ok; }
  QPushButton* CancelButton() const { return m_cancel; }

 protected:
  void accept() override;

 private:
  QLineEdit* m_field;
  QPushButton* m_ok;
  QPushButton* m_cancel;
};

// The encryption road's prompt (template 1028) in Qt: the password, its confirmation and
// the line that says only the first 11 bytes count. OK with an empty password does
// nothing; with two different entries it says so (kPasswordsDiffer), empties both fields
// and asks again.
class NewPasswordPrompt : public QDialog {
 public:
  static const char kPrompt[];
  static const char kConfirmLabel[];
  static const char kLimit[];
  static const char kConfirmDescription[];
  static const char kOkDescription[];
  static const char kCancelDescription[];

  explicit NewPasswordPrompt(QWidget* parent = nullptr);
  ~NewPasswordPrompt() override;

  // After Accepted: the password, zero-terminated, at most 11 bytes (UTF-8, never half a
  // character).
  char m_password[kPromptPasswordSize];

  QLineEdit* Field() const { return m_field; }
  QLineEdit* Confirmation() const { return m_confirmation; }

 protected:
  void accept() override;

 private:
  QLineEdit* m_field;
  QLineEdit* m_confirmation;
};
