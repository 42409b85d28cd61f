#include "ui/qt/progress_window.h"

#include <QtGui/QCloseEvent>
#include <QtWidgets/QLabel>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>

#include "platform/catalog.h"
#include "ui/qt/dialog_layout.h"

const char ProgressWindow::kCaption[] = N_("파일 처리중");
const char ProgressWindow::kEncrypting[] = N_("암호화중...");
const char ProgressWindow::kDecrypting[] = N_("복호화중...");
const char ProgressWindow::kCancel[] = N_("취소(&C)");

ProgressWindow::ProgressWindow(int operation, std::function<void()> onCancel) : m_onCancel(std::move(onCancel)) {
  SetTemplateFrame(this);
  setWindowTitle(QString::fromUtf8(Tr(kCaption)));
  setWindowIcon(ApplicationIcon());
  setFont(TemplateFont());
  const DialogUnits units(font());
  setFixedSize(units.Size(187, 96));

  m_cancel = new QPushButton(QString::fromUtf8(Tr(kCancel)), this);
  m_cancel->setDefault(true);
  m_cancel->setGeometry(units.Rect(70, 76, 37, 13));
  connect(m_cancel, &QPushButton::clicked, this, [this] { m_onCancel(); });

  m_message = new QLabel(QString::fromUtf8(Tr(operation == OPERATION_ENCRYPT ? kEncrypting : kDecrypting)), this);
  m_message->setGeometry(units.Rect(32, 11, 145, 15));

  m_bar = new QProgressBar(this);
  m_bar->setRange(0, 100);
  m_bar->setValue(0);
  m_bar->setTextVisible(false);
  m_bar->setGeometry(units.Rect(7, 62, 173, 11));

  // A path is shown as it is: never taken for markup.
  m_file = new QLabel(this);
  m_file->setTextFormat(Qt::PlainText);
  m_file->setWordWrap(true);
  m_file->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_file->setGeometry(units.Rect(7, 32, 173, 24));

  auto* icon = new QLabel(this);
  icon->setPixmap(ApplicationIcon().pixmap(32, 32));
  icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  icon->setGeometry(units.Rect(7, 7, 20, 20));
}

void ProgressWindow::StartFile(const std::string& path) {
  m_bar->setValue(0);
  m_file->setText(FromSystemText(path));
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
