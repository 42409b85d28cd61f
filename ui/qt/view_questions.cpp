#include "ui/qt/view_questions.h"

#include <QtCore/QTimer>
#include <QtWidgets/QPushButton>

#include "platform/text.h"
#include "ui/qt/dialog_layout.h"
#include "ui/qt/error_box.h"
#include "ui/viewer_text.h"

namespace {

// The roles each button answers as: the question's answers in the order they are added.
constexpr int kFirst = 0;

QString Text(const char* korean) { return QString::fromUtf8(Tr(korean)); }

// A box of the run's own (caption, icon, modality) with text, no buttons yet.
std::unique_ptr<QMessageBox> Question(QMessageBox::Icon icon, const std::string& text) {
  std::unique_ptr<QMessageBox> box = MakeErrorBox(Tr(kViewerCaption), text);
  box->setIcon(icon);
  box->setStandardButtons(QMessageBox::NoButton);
  return box;
}

QPushButton* AddAnswer(QMessageBox& box, const char* korean, QMessageBox::ButtonRole role, int answer) {
  QPushButton* button = box.addButton(Text(korean), role);
  button->setProperty("answer", answer);
  // The name read aloud is the text without its mnemonic mark.
  button->setAccessibleName(button->text().remove(QLatin1Char('&')));
  return button;
}

int Answer(QMessageBox& box, int onClose) {
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  return clicked ? clicked->property("answer").toInt() : onClose;
}

}  // namespace

std::unique_ptr<QMessageBox> MakeDangerousTypeQuestion(const std::string& name, const std::string& typeName) {
  std::unique_ptr<QMessageBox> box =
      Question(QMessageBox::Warning, Format(Tr(kDangerousType), name.c_str(), typeName.c_str()));
  AddAnswer(*box, kOpenAnyway, QMessageBox::AcceptRole, 1);
  QPushButton* no = AddAnswer(*box, kDoNotOpen, QMessageBox::RejectRole, kFirst);
  box->setDefaultButton(no);
  box->setEscapeButton(no);
  return box;
}

bool AskOpenDangerousType(const std::string& name, const std::string& typeName) {
  const std::unique_ptr<QMessageBox> box = MakeDangerousTypeQuestion(name, typeName);
  return Answer(*box, kFirst) == 1;
}

std::unique_ptr<QMessageBox> MakeEditQuestion(const std::string& name, const std::string& container, bool changed,
                                              bool canSaveBack) {
  std::unique_ptr<QMessageBox> box =
      Question(QMessageBox::Question,
               Format(Tr(changed ? kPlaintextChanged : kFileMadeInWorkingFolder), name.c_str(), container.c_str()));
  QPushButton* save = nullptr;
  if (canSaveBack)
    save = AddAnswer(*box, kSaveIntoContainer, QMessageBox::AcceptRole, static_cast<int>(EditChoice::SaveBack));
  QPushButton* keep =
      AddAnswer(*box, kKeepBesideContainer, QMessageBox::ActionRole, static_cast<int>(EditChoice::KeepBeside));
  AddAnswer(*box, kDiscardEdit, QMessageBox::DestructiveRole, static_cast<int>(EditChoice::Discard));
  box->setDefaultButton(save ? save : keep);
  box->setEscapeButton(keep);
  return box;
}

EditChoice AskAboutEditedFile(const std::string& name, const std::string& container, bool changed,
                              bool canSaveBack) {
  const std::unique_ptr<QMessageBox> box = MakeEditQuestion(name, container, changed, canSaveBack);
  return static_cast<EditChoice>(Answer(*box, static_cast<int>(EditChoice::KeepBeside)));
}

std::unique_ptr<QMessageBox> MakeInUseNotice(const std::string& name) {
  std::unique_ptr<QMessageBox> box = Question(QMessageBox::Information, Format(Tr(kStillInUse), name.c_str()));
  AddAnswer(*box, kDeleteNow, QMessageBox::DestructiveRole, static_cast<int>(InUseAnswer::DeleteNow));
  QPushButton* wait =
      AddAnswer(*box, kKeepWaiting, QMessageBox::RejectRole, static_cast<int>(InUseAnswer::KeepWaiting));
  box->setDefaultButton(wait);
  box->setEscapeButton(wait);
  // Not on top of the program that still has the file: it is a notice, not an alarm.
  box->setWindowFlag(Qt::WindowStaysOnTopHint, false);
  box->setWindowModality(Qt::NonModal);
  return box;
}

InUseAnswer ShowInUseNotice(const std::string& name, const std::function<bool()>& released) {
  const std::unique_ptr<QMessageBox> box = MakeInUseNotice(name);
  bool wasReleased = false;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, box.get(), [&] {
    if (released()) {
      wasReleased = true;
      box->done(0);
    }
  });
  timer.start(250);
  box->exec();
  timer.stop();
  if (wasReleased) return InUseAnswer::Released;
  QAbstractButton* clicked = box->clickedButton();
  return clicked ? static_cast<InUseAnswer>(clicked->property("answer").toInt()) : InUseAnswer::KeepWaiting;
}
