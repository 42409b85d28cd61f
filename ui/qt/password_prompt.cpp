#include "ui/qt/password_prompt.h"

#include <QtWidgets/QBoxLayout>
#include <QtWidgets/QGridLayout>
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
const char PasswordPrompt::kLabel[] = N_("암호(&P)");
const char PasswordPrompt::kOk[] = N_("확인(&O)");
const char PasswordPrompt::kCancel[] = N_("취소(&C)");
const char PasswordPrompt::kOkDescription[] = N_("입력한 암호로 복호화합니다.");
const char PasswordPrompt::kCancelDescription[] = N_("아무것도 복호화하지 않고 닫습니다.");

namespace {

// The application icon in the template's 20 × 20 units, named for screen readers.
QLabel* Icon(QWidget* window, const DialogUnits& units) {
  auto* icon = new QLabel(window);
  icon->setPixmap(ApplicationIcon().pixmap(32, 32));
  icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  icon->setMinimumSize(units.Size(20, 20));
  icon->setAccessibleName(window->windowTitle());
  return icon;
}

// The icon and the prompt beside it, whose top is 3 units below the icon's.
QHBoxLayout* IconAndPrompt(QLabel* icon, QLabel* prompt, const DialogUnits& units) {
  auto* row = new QHBoxLayout;
  row->setSpacing(units.X(4));
  row->addWidget(icon, 0, Qt::AlignTop);
  prompt->setContentsMargins(0, units.Y(3), 0, 0);
  row->addWidget(prompt, 1, Qt::AlignTop);
  return row;
}

// A password field with its label: the field is the label's buddy (Alt with the label's
// mnemonic reaches it) and is named after it.
QLineEdit* LabelledField(QWidget* window, const char* name, QLabel* label, const QString& description,
                         const DialogUnits& units, int widthUnits) {
  auto* field = new QLineEdit(window);
  field->setObjectName(QString::fromUtf8(name));
  field->setEchoMode(QLineEdit::Password);
  field->setMinimumWidth(units.X(widthUnits));
  label->setBuddy(field);
  field->setAccessibleName(WithoutMnemonic(label->text()));
  field->setAccessibleDescription(description);
  return field;
}

QPushButton* Button(QWidget* window, const char* name, const char* text, const char* description,
                    const QSize& least) {
  auto* button = new QPushButton(QString::fromUtf8(Tr(text)), window);
  button->setObjectName(QString::fromUtf8(name));
  button->setMinimumSize(least);
  button->setAccessibleName(WithoutMnemonic(button->text()));
  button->setAccessibleDescription(QString::fromUtf8(Tr(description)));
  return button;
}

// OK and Cancel side by side, centred, 3 units apart.
QHBoxLayout* Buttons(QPushButton* ok, QPushButton* cancel, const DialogUnits& units) {
  auto* row = new QHBoxLayout;
  row->setSpacing(units.X(3));
  row->addStretch();
  row->addWidget(ok);
  row->addWidget(cancel);
  row->addStretch();
  return row;
}

// The window as big as its contents need and never smaller, its margins the template's.
QVBoxLayout* WindowLayout(QWidget* window, const DialogUnits& units, int top) {
  auto* layout = new QVBoxLayout(window);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->setContentsMargins(units.X(11), units.Y(top), units.X(10), units.Y(7));
  layout->setSpacing(0);
  return layout;
}

}  // namespace

PasswordPrompt::PasswordPrompt(QWidget* parent) : QDialog(parent) {
  SetTemplateFrame(this);
  setWindowTitle(QString::fromUtf8(Tr(kCaption)));
  setWindowIcon(ApplicationIcon());
  setFont(TemplateFont());
  const DialogUnits units(font());

  // Template 1027: the icon and the prompt; the label and the field; OK and Cancel. The
  // tab order follows the reading order: the field, OK, Cancel.
  QLabel* icon = Icon(this, units);
  auto* prompt = new QLabel(QString::fromUtf8(Tr(kPrompt)), this);
  auto* label = new QLabel(QString::fromUtf8(Tr(kLabel)), this);
  m_field = LabelledField(this, "password", label, prompt->text(), units, 112);
  m_ok = Button(this, "ok", kOk, kOkDescription, units.Size(42, 16));
  m_ok->setDefault(true);
  connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
  m_cancel = Button(this, "cancel", kCancel, kCancelDescription, units.Size(42, 16));
  m_cancel->setAutoDefault(false);
  connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

  QVBoxLayout* layout = WindowLayout(this, units, 15);
  layout->addLayout(IconAndPrompt(icon, prompt, units));
  layout->addSpacing(units.Y(8));
  auto* row = new QHBoxLayout;
  row->setSpacing(units.X(2));
  row->addSpacing(units.X(1));
  row->addWidget(label);
  row->addWidget(m_field, 1);
  row->addSpacing(units.X(10));
  layout->addLayout(row);
  layout->addSpacing(units.Y(11));
  layout->addLayout(Buttons(m_ok, m_cancel, units));

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
const char NewPasswordPrompt::kConfirmLabel[] = N_("암호 확인(&N)");
const char NewPasswordPrompt::kLimit[] = N_("암호는 앞의 11바이트만 쓰입니다.");
const char NewPasswordPrompt::kConfirmDescription[] = N_("같은 암호를 한 번 더 입력하십시오.");
const char NewPasswordPrompt::kOkDescription[] = N_("입력한 암호로 암호 파일을 만듭니다.");
const char NewPasswordPrompt::kCancelDescription[] = N_("아무것도 만들지 않고 닫습니다.");

NewPasswordPrompt::NewPasswordPrompt(QWidget* parent) : QDialog(parent) {
  SetTemplateFrame(this);
  setWindowTitle(QString::fromUtf8(Tr(PasswordPrompt::kCaption)));
  setWindowIcon(ApplicationIcon());
  setFont(TemplateFont());
  const DialogUnits units(font());

  // Template 1028: the icon and the prompt; each label with its field; the line on the
  // 11 bytes; OK and Cancel.
  QLabel* icon = Icon(this, units);
  auto* prompt = new QLabel(QString::fromUtf8(Tr(kPrompt)), this);
  auto* label = new QLabel(QString::fromUtf8(Tr(PasswordPrompt::kLabel)), this);
  auto* confirmLabel = new QLabel(QString::fromUtf8(Tr(kConfirmLabel)), this);
  m_hint = new QLabel(QString::fromUtf8(Tr(kLimit)), this);
  m_hint->setObjectName(QStringLiteral("hint"));
  m_field = LabelledField(this, "password", label, prompt->text(), units, 110);
  m_confirmation =
      LabelledField(this, "confirmation", confirmLabel, QString::fromUtf8(Tr(kConfirmDescription)), units, 110);
  QPushButton* ok = Button(this, "ok", PasswordPrompt::kOk, kOkDescription, units.Size(42, 16));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  QPushButton* cancel = Button(this, "cancel", PasswordPrompt::kCancel, kCancelDescription, units.Size(42, 16));
  cancel->setAutoDefault(false);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  QVBoxLayout* layout = WindowLayout(this, units, 12);
  layout->addLayout(IconAndPrompt(icon, prompt, units));
  layout->addSpacing(units.Y(8));
  auto* fields = new QGridLayout;
  fields->setContentsMargins(units.X(3), 0, units.X(3), 0);
  fields->setHorizontalSpacing(units.X(1));
  fields->setVerticalSpacing(units.Y(4));
  fields->setColumnMinimumWidth(0, units.X(49));
  fields->setColumnStretch(1, 1);
  fields->addWidget(label, 0, 0);
  fields->addWidget(m_field, 0, 1);
  fields->addWidget(confirmLabel, 1, 0);
  fields->addWidget(m_confirmation, 1, 1);
  layout->addLayout(fields);
  layout->addSpacing(units.Y(7));
  m_hint->setContentsMargins(units.X(3), 0, 0, 0);
  layout->addWidget(m_hint);
  layout->addSpacing(units.Y(8));
  layout->addLayout(Buttons(ok, cancel, units));

  // The line follows what is typed; a screen reader hears it as the field's description.
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
