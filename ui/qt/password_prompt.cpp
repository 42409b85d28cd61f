#include "ui/qt/password_prompt.h"

#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QPushButton>

#include "crypto/secure.h"
#include "platform/catalog.h"
#include "container/password_rule.h"
#include "ui/qt/dialog_layout.h"
#include "ui/qt/error_box.h"
#include "ui/viewer_text.h"

const char PasswordPrompt::kCaption[] = N_("타르베신 외부암호파일 뷰어");
const char PasswordPrompt::kPrompt[] = N_("복호화를 위해 암호를 입력하십시오.");
const char PasswordPrompt::kLabel[] = N_("암호");
const char PasswordPrompt::kOk[] = N_("확인(&O)");
const char PasswordPrompt::kCancel[] = N_("취소(&C)");

PasswordPrompt::PasswordPrompt(QWidget* parent) : QDialog(parent) {
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

namespace {

// All that was typed into a field, as UTF-8; the toolkit's own copy is wiped as far as it
// lets it.
std::string TypedText(QLineEdit* field) {
  QByteArray typed = field->text().toUtf8();
  std::string text(typed.constData(), static_cast<size_t>(typed.size()));
  SecureWipe(typed.data(), static_cast<size_t>(typed.size()));
  return text;
}

void Wipe(std::string& text) {
  if (!text.empty()) SecureWipe(&text[0], text.size());
}

}  // namespace

PasswordPrompt::~PasswordPrompt() { Wipe(m_typed); }

void PasswordPrompt::accept() {
  std::string typed = TypedText(m_field);
  if (typed.empty()) return;  // nothing typed: the dialog stays open
  Wipe(m_typed);
  m_typed.swap(typed);
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
  m_hint = Text(this, Tr(kLimit), units.Rect(14, 75, 163, 10));
  m_hint->setObjectName(QStringLiteral("hint"));
  connect(m_field, &QLineEdit::textChanged, this, [this] { ShowHint(); });

  setTabOrder(m_field, m_confirmation);
  setTabOrder(m_confirmation, ok);
  setTabOrder(ok, cancel);
  m_field->setFocus();
}

NewPasswordPrompt::~NewPasswordPrompt() { Wipe(m_typed); }

void NewPasswordPrompt::ShowHint() {
  std::string typed = TypedText(m_field);
  m_hint->setText(QString::fromUtf8(NewPasswordHint(typed).c_str()));
  Wipe(typed);
}

void NewPasswordPrompt::accept() {
  std::string typed = TypedText(m_field), again = TypedText(m_confirmation);
  const bool empty = typed.empty(), same = typed == again;
  Wipe(again);
  if (empty) return;  // nothing typed: the dialog stays open
  if (!same) {
    Wipe(typed);
    ShowWarningBox(this, Tr(kViewerCaption), Tr(kPasswordsDiffer));
    m_field->clear();
    m_confirmation->clear();
    m_field->setFocus();
    return;
  }
  Wipe(m_typed);
  m_typed.swap(typed);
  m_field->clear();
  m_confirmation->clear();
  QDialog::accept();
}
