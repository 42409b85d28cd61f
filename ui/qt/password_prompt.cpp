#include "ui/qt/password_prompt.h"

#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QPushButton>

#include <cstring>

#include "crypto/secure.h"
#include "platform/catalog.h"
#include "platform/codepage.h"
#include "ui/qt/dialog_layout.h"
#include "ui/qt/error_box.h"
#include "ui/viewer_text.h"

const char PasswordPrompt::kCaption[] = N_("타르베신 외부암호파일 뷰어");
const char PasswordPrompt::kPrompt[] = N_("복호화를 위해 암호를 입력하십시오.");
const char PasswordPrompt::kLabel[] = N_("암호");
const char PasswordPrompt::kOk[] = N_("확인(&O)");
const char PasswordPrompt::kCancel[] = N_("취소(&C)");

PasswordPrompt::PasswordPrompt(QWidget* parent) : QDialog(parent) {
  std::memset(m_password, 0, sizeof m_password);
  SetTemplateFrame(this);
  setWindowTitle(QString::fromUtf8(Tr(kCaption)));
  setWindowIcon(ApplicationIcon());
  setFont(TemplateFont());
  const DialogUnits units(font());
  setFixedSize(units.Size(187, 89));

  // Template order, which is also the tab order: the field, OK, Cancel, then the texts.
  m_field = new QLineEdit(this);
  m_field->setObjectName(QStringLiteral("password"));
  m_field->setEchoMode(QLineEdit::Password);
  m_field->setGeometry(units.Rect(45, 43, 120, 12));

  m_ok = new QPushButton(QString::fromUtf8(Tr(kOk)), this);
  m_ok->setObjectName(QStringLiteral("ok"));
  m_ok->setDefault(true);
  m_ok->setGeometry(units.Rect(49, 66, 42, 16));
  connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);

  m_cancel = new QPushButton(QString::fromUtf8(Tr(kCancel)), this);
  m_cancel->setObjectName(QStringLiteral("cancel"));
  m_cancel->setAutoDefault(false);
  m_cancel->setGeometry(units.Rect(94, 66, 42, 16));
  connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* prompt = new QLabel(QString::fromUtf8(Tr(kPrompt)), this);
  prompt->setGeometry(units.Rect(35, 18, 142, 16));
  auto* icon = new QLabel(this);
  icon->setPixmap(ApplicationIcon().pixmap(32, 32));
  icon->setGeometry(units.Rect(11, 15, 20, 20));
  icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  auto* label = new QLabel(QString::fromUtf8(Tr(kLabel)), this);
  label->setGeometry(units.Rect(23, 44, 19, 10));

  setTabOrder(m_field, m_ok);
  setTabOrder(m_ok, m_cancel);
  m_field->setFocus();
}

PasswordPrompt::~PasswordPrompt() {
  SecureWipe(m_password, sizeof m_password);
  if (!m_cp949Form.empty()) SecureWipe(&m_cp949Form[0], m_cp949Form.size());
}

void PasswordPrompt::accept() {
  QByteArray typed = m_field->text().toUtf8();
  if (typed.isEmpty()) return;  // nothing typed: the dialog stays open
  const std::string all(typed.constData(), static_cast<size_t>(typed.size()));
  SecureWipe(typed.data(), static_cast<size_t>(typed.size()));
  std::string taken = TypedPasswordBytes(all, kPromptPasswordBytes);
  std::memset(m_password, 0, sizeof m_password);
  std::memcpy(m_password, taken.data(), taken.size());
  m_cp949Form = Cp949PasswordBytes(all, kPromptPasswordBytes);
  // What the field and the copies held goes, as far as the toolkit lets it.
  SecureWipe(&taken[0], taken.size());
  SecureWipe(const_cast<char*>(all.data()), all.size());
  m_field->clear();
  QDialog::accept();
}

const char NewPasswordPrompt::kPrompt[] = N_("새 암호를 두 번 입력하십시오.");
const char NewPasswordPrompt::kConfirmLabel[] = N_("암호 확인");
const char NewPasswordPrompt::kLimit[] = N_("암호는 앞의 11바이트만 쓰입니다.");

namespace {

QLineEdit* PasswordField(QWidget* parent, const char* name, const QRect& where) {
  auto* field = new QLineEdit(parent);
  field->setObjectName(QString::fromUtf8(name));
  field->setEchoMode(QLineEdit::Password);
  field->setGeometry(where);
  return field;
}

QLabel* Text(QWidget* parent, const char* text, const QRect& where) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->setGeometry(where);
  return label;
}

}  // namespace

NewPasswordPrompt::NewPasswordPrompt(QWidget* parent) : QDialog(parent) {
  std::memset(m_password, 0, sizeof m_password);
  SetTemplateFrame(this);
  setWindowTitle(QString::fromUtf8(Tr(PasswordPrompt::kCaption)));
  setWindowIcon(ApplicationIcon());
  setFont(TemplateFont());
  const DialogUnits units(font());
  setFixedSize(units.Size(187, 116));

  m_field = PasswordField(this, "password", units.Rect(64, 40, 110, 12));
  m_confirmation = PasswordField(this, "confirmation", units.Rect(64, 56, 110, 12));
  auto* ok = new QPushButton(QString::fromUtf8(Tr(PasswordPrompt::kOk)), this);
  ok->setObjectName(QStringLiteral("ok"));
  ok->setDefault(true);
  ok->setGeometry(units.Rect(49, 93, 42, 16));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* cancel = new QPushButton(QString::fromUtf8(Tr(PasswordPrompt::kCancel)), this);
  cancel->setObjectName(QStringLiteral("cancel"));
  cancel->setAutoDefault(false);
  cancel->setGeometry(units.Rect(94, 93, 42, 16));
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  Text(this, Tr(kPrompt), units.Rect(35, 15, 142, 16));
  auto* icon = new QLabel(this);
  icon->setPixmap(ApplicationIcon().pixmap(32, 32));
  icon->setGeometry(units.Rect(11, 12, 20, 20));
  icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Text(this, Tr(PasswordPrompt::kLabel), units.Rect(14, 41, 48, 10));
  Text(this, Tr(kConfirmLabel), units.Rect(14, 57, 48, 10));
  Text(this, Tr(kLimit), units.Rect(14, 75, 163, 10));

  setTabOrder(m_field, m_confirmation);
  setTabOrder(m_confirmation, ok);
  setTabOrder(ok, cancel);
  m_field->setFocus();
}

NewPasswordPrompt::~NewPasswordPrompt() { SecureWipe(m_password, sizeof m_password); }

void NewPasswordPrompt::accept() {
  QByteArray typed = m_field->text().toUtf8(), again = m_confirmation->text().toUtf8();
  const bool empty = typed.isEmpty(), same = typed == again;
  std::string taken = TypedPasswordBytes(std::string(typed.constData(), static_cast<size_t>(typed.size())),
                                         kPromptPasswordBytes);
  SecureWipe(typed.data(), static_cast<size_t>(typed.size()));
  SecureWipe(again.data(), static_cast<size_t>(again.size()));
  if (empty) return;  // nothing typed: the dialog stays open
  if (!same) {
    if (!taken.empty()) SecureWipe(&taken[0], taken.size());
    ShowWarningBox(this, Tr(kViewerCaption), Tr(kPasswordsDiffer));
    m_field->clear();
    m_confirmation->clear();
    m_field->setFocus();
    return;
  }
  std::memset(m_password, 0, sizeof m_password);
  std::memcpy(m_password, taken.data(), taken.size());
  SecureWipe(&taken[0], taken.size());
  m_field->clear();
  m_confirmation->clear();
  QDialog::accept();
}
