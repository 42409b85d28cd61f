#include "ui/qt/error_box.h"

#include <QtWidgets/QPushButton>

#include "ui/qt/dialog_layout.h"

std::unique_ptr<QMessageBox> MakeErrorBox(const std::string& caption, const std::string& text) {
  std::string shown;
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) shown += text[i];
  auto box = std::make_unique<QMessageBox>();
  box->setIcon(QMessageBox::Critical);
  box->setWindowTitle(FromSystemText(caption));
  box->setWindowIcon(ApplicationIcon());
  box->setTextFormat(Qt::PlainText);
  box->setText(FromSystemText(shown));
  box->setStandardButtons(QMessageBox::Ok);
  box->button(QMessageBox::Ok)->setText(QString::fromUtf8(Tr("확인")));
  box->setWindowModality(Qt::ApplicationModal);
  box->setWindowFlag(Qt::WindowStaysOnTopHint, true);
  return box;
}

void ShowErrorBox(const std::string& caption, const std::string& text) {
  const std::unique_ptr<QMessageBox> box = MakeErrorBox(caption, text);
  box->exec();
}

void ShowInformationBox(const std::string& caption, const std::string& text) {
  const std::unique_ptr<QMessageBox> box = MakeErrorBox(caption, text);
  box->setIcon(QMessageBox::Information);
  box->exec();
}

void ShowWarningBox(QWidget* parent, const std::string& caption, const std::string& text) {
  const std::unique_ptr<QMessageBox> box = MakeErrorBox(caption, text);
  box->setIcon(QMessageBox::Warning);
  box->setParent(parent, box->windowFlags());
  box->exec();
}
