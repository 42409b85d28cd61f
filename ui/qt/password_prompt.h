#pragma once
// The password prompt (template 1027) in Qt: its caption, icon, texts and controls, the
// typed characters masked. OK hands on all that was typed (UTF-8: which bytes it stands
// for is the password rule's) and is ignored while the field is empty; Cancel and Escape
// end the dialog with Rejected.

#include <QtWidgets/QDialog>

#include <string>

#include "ui/viewer_front_end.h"

class QLabel;
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
  ~PasswordPrompt() override;  // wipes m_typed

  // After Accepted: what was typed, never empty.
  std::string m_typed;

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
// the line that says what counts of what is typed (NewPasswordHint, kept up to date while
// it is typed). OK with an empty password does nothing; with two different entries it
// says so (kPasswordsDiffer), empties both fields and asks again.
class NewPasswordPrompt : public QDialog {
 public:
  static const char kPrompt[];
  static const char kConfirmLabel[];
  static const char kLimit[];
  static const char kConfirmDescription[];
  static const char kOkDescription[];
  static const char kCancelDescription[];

  explicit NewPasswordPrompt(QWidget* parent = nullptr);
  ~NewPasswordPrompt() override;  // wipes m_typed

  // After Accepted: what was typed (twice), never empty.
  std::string m_typed;

  QLineEdit* Field() const { return m_field; }
  QLineEdit* Confirmation() const { return m_confirmation; }
  QLabel* Hint() const { return m_hint; }

 protected:
  void accept() override;

 private:
  void ShowHint();

  QLineEdit* m_field;
  QLineEdit* m_confirmation;
  QLabel* m_hint;
};
