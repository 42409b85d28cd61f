#include "ui/qt/progress_window.h"

#include <QtGui/QCloseEvent>
#include <QtGui/QTextLayout>
#include <QtWidgets/QBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>

#include "platform/catalog.h"
#include "ui/qt/dialog_layout.h"

const char ProgressWindow::kCaption[] = N_("파일 처리중");
const char ProgressWindow::kEncrypting[] = N_("암호화중...");
const char ProgressWindow::kDecrypting[] = N_("복호화중...");
const char ProgressWindow::kCancel[] = N_("취소(&C)");
const char ProgressWindow::kCancelDescription[] = N_("작업을 멈춥니다. 만들던 파일은 남지 않습니다.");

namespace {

// The text broken into lines no wider than width: at word boundaries where it can, and
// anywhere else, so that a long name without spaces is never cut off.
QString BrokenToWidth(const QString& text, const QFont& font, int width) {
  QTextLayout layout(text, font);
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  QStringList lines;
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width);
    lines << text.mid(line.textStart(), line.textLength());
  }
  layout.endLayout();
  return lines.join(QLatin1Char('\n'));
}

}  // namespace

ProgressWindow::ProgressWindow(int operation, std::function<void()> onCancel) : m_onCancel(std::move(onCancel)) {
  SetTemplateFrame(this);
  setWindowTitle(QString::fromUtf8(Tr(kCaption)));
  setWindowIcon(ApplicationIcon());
  setFont(TemplateFont());
  const DialogUnits units(font());

  // Template 118, in reading order: the icon and the message; the file; the bar; Cancel,
  // the only control the keyboard reaches.
  auto* icon = new QLabel(this);
  icon->setPixmap(ApplicationIcon().pixmap(32, 32));
  icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  icon->setMinimumSize(units.Size(20, 20));
  icon->setAccessibleName(windowTitle());

  m_message = new QLabel(QString::fromUtf8(Tr(operation == OPERATION_ENCRYPT ? kEncrypting : kDecrypting)), this);
  m_message->setContentsMargins(0, units.Y(4), 0, 0);

  // A path is shown as it is: never taken for markup or a mnemonic, broken into lines
  // of the template's width and never cut. Its name is the path as it is.
  m_file = new QLabel(this);
  m_file->setTextFormat(Qt::PlainText);
  m_file->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_file->setMinimumSize(units.Size(173, 24));
  m_file->setAccessibleDescription(m_message->text());

  // Named by the file it measures, as on Windows; its value is the percentage.
  m_bar = new QProgressBar(this);
  m_bar->setRange(0, 100);
  m_bar->setValue(0);
  m_bar->setTextVisible(false);
  m_bar->setFixedHeight(units.Y(11));
  m_bar->setAccessibleDescription(m_message->text());

  m_cancel = new QPushButton(QString::fromUtf8(Tr(kCancel)), this);
  m_cancel->setDefault(true);
  m_cancel->setMinimumSize(units.Size(37, 13));
  m_cancel->setAccessibleName(WithoutMnemonic(m_cancel->text()));
  m_cancel->setAccessibleDescription(QString::fromUtf8(Tr(kCancelDescription)));
  connect(m_cancel, &QPushButton::clicked, this, [this] { m_onCancel(); });

  auto* layout = new QVBoxLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->setContentsMargins(units.X(7), units.Y(7), units.X(7), units.Y(7));
  layout->setSpacing(0);
  auto* top = new QHBoxLayout;
  top->setSpacing(units.X(5));
  top->addWidget(icon, 0, Qt::AlignTop);
  top->addWidget(m_message, 1, Qt::AlignTop);
  layout->addLayout(top);
  layout->addSpacing(units.Y(5));
  layout->addWidget(m_file);
  layout->addSpacing(units.Y(6));
  layout->addWidget(m_bar);
  layout->addSpacing(units.Y(3));
  layout->addWidget(m_cancel, 0, Qt::AlignHCenter);
}

void ProgressWindow::StartFile(const std::string& path) {
  m_bar->setValue(0);
  const QString name = FromSystemText(path);
  m_file->setText(BrokenToWidth(name, m_file->font(), m_file->minimumWidth()));
  // Both changes of name are announced: a screen reader hears each new file.
  m_file->setAccessibleName(name);
  m_bar->setAccessibleName(name);
  show();
  repaint();
}

void ProgressWindow::ShowFile(const std::string& path) {
  m_file->setText(FromSystemText(path));
  show();
  repaint();
}

void ProgressWindow::SetProgress(unsigned percent) {
  m_bar->setValue(static_cast<int>(percent > 100 ? 100 : percent));
  repaint();
}

void ProgressWindow::reject() { m_onCancel(); }

void ProgressWindow::closeEvent(QCloseEvent* event) {
  event->ignore();
  m_onCancel();
}
