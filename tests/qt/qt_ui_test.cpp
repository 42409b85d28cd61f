// The Qt viewer's windows (offscreen): the password prompt, the progress window and the
// error box with the templates' texts; the job's windows driven from a worker thread
// while the GUI thread waits serving its events; the code page 949 form of a password.
#include <gtest/gtest.h>

#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>
#include <QtCore/QTimer>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "container/failure.h"
#include "jobs/job_runner.h"
#include "app/viewer_app.h"
#include "platform/codepage.h"
#include "platform/thread.h"
#include "tests/engine_fixture.h"
#include "ui/qt/error_box.h"
#include "platform/codepage.h"
#include "ui/qt/password_prompt.h"
#include "ui/qt/progress_window.h"
#include "ui/qt/qt_front_end.h"
#include "ui/qt/qt_viewer_front_end.h"

using namespace testutil;

namespace {

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

// Types text into the widget as a keyboard would, one character (a surrogate pair
// included) per key event, whatever its script.
void Type(QWidget* widget, const QString& text) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
    QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, text.mid(i, length), Qt::NoModifier);
    i += length - 1;
  }
}

std::vector<QString> LabelTexts(const QWidget& window) {
  std::vector<QString> texts;
  for (const QLabel* label : window.findChildren<QLabel*>())
    if (!label->text().isEmpty()) texts.push_back(label->text());
  return texts;
}

bool HasIcon(const QWidget& window) {
  for (const QLabel* label : window.findChildren<QLabel*>())
    if (!label->pixmap().isNull()) return true;
  return false;
}

// Runs check on the GUI thread every 10 ms while the thread waits elsewhere (a modal
// loop, a job's wait) until it returns true.
void Poll(std::function<bool()> check) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, timer, [timer, check] {
    if (check()) timer->deleteLater();
  });
  timer->start(10);
}

template <typename Window>
Window* TopLevel() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* window = qobject_cast<Window*>(w); window && window->isVisible()) return window;
  return nullptr;
}

ProgressWindow* VisibleProgressWindow() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* window = dynamic_cast<ProgressWindow*>(w); window && window->isVisible()) return window;
  return nullptr;
}

// A container of plaintext bytes keyed with password, made by the encryption engine.
std::string MakeContainer(const TempDir& dir, const std::string& name, const std::string& password, size_t size) {
  WriteBytes(dir / name, RandomBytes(size, static_cast<uint32_t>(name.size())));
  RecordingUi ui;
  JobRunner runner(ui);
  FileList* list = new FileList;
  list->Append(dir / name);
  runner.RunJob(list, Flags(true, true, false), password.c_str());
  EXPECT_TRUE(ui.errors.empty());
  return dir / (name + ".aqv3");
}

}  // namespace

TEST(QtPasswordPrompt, ShowsTheTemplateMasksAndFocusesTheField) {
  PasswordPrompt prompt;
  prompt.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&prompt));
  EXPECT_EQ(prompt.windowTitle(), Q("타르베신 외부암호파일 뷰어"));
  const std::vector<QString> texts = LabelTexts(prompt);
  EXPECT_NE(std::find(texts.begin(), texts.end(), Q("복호화를 위해 암호를 입력하십시오.")), texts.end());
  EXPECT_NE(std::find(texts.begin(), texts.end(), Q("암호(&P)")), texts.end());
  EXPECT_TRUE(HasIcon(prompt));
  EXPECT_EQ(prompt.OkButton()->text(), Q("확인(&O)"));
  EXPECT_TRUE(prompt.OkButton()->isDefault());
  EXPECT_EQ(prompt.CancelButton()->text(), Q("취소(&C)"));
  // No system menu or close box; the field first in the tab order, and focused.
  EXPECT_FALSE(prompt.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(prompt.windowFlags() & Qt::WindowSystemMenuHint);
  EXPECT_EQ(prompt.focusWidget(), prompt.Field());
  EXPECT_EQ(prompt.Field()->nextInFocusChain(), prompt.OkButton());

  Type(prompt.Field(), Q("비밀abc"));
  EXPECT_EQ(prompt.Field()->echoMode(), QLineEdit::Password);
  EXPECT_FALSE(prompt.Field()->displayText().contains(Q("비")));
  EXPECT_FALSE(prompt.Field()->displayText().contains(Q("abc")));
  EXPECT_EQ(prompt.Field()->displayText().size(), 5);
}

// The prompts hand on all that was typed, whatever its length (the rule cuts it), and
// clear their fields; the encryption prompt's line follows what is typed.
TEST(QtPasswordPrompt, HandsOnAllThatWasTypedAndTheHintFollowsTheTyping) {
  for (const char* typed : {"abcdefghijklmno", "가나다라마바", "\xF0\x9F\x98\x80 x"}) {
    PasswordPrompt prompt;
    prompt.show();
    Type(prompt.Field(), Q(typed));
    QTest::mouseClick(prompt.OkButton(), Qt::LeftButton);
    EXPECT_EQ(prompt.result(), QDialog::Accepted) << typed;
    EXPECT_EQ(prompt.m_typed, typed);
    EXPECT_TRUE(prompt.Field()->text().isEmpty()) << "the field is cleared";
  }
  NewPasswordPrompt prompt;
  prompt.show();
  const QString general = prompt.Hint()->text();
  for (const char* typed : {"가나다라마", "가나다라마바", "\xF0\x9F\x98\x80", "abc"}) {
    prompt.Field()->clear();
    Type(prompt.Field(), Q(typed));
    EXPECT_EQ(prompt.Hint()->text(), Q(NewPasswordHint(typed).c_str())) << typed;
  }
  EXPECT_EQ(prompt.Hint()->text(), general) << "everything typed counts";
  Type(prompt.Confirmation(), Q("abc"));
  QTest::mouseClick(prompt.findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
  EXPECT_EQ(prompt.m_typed, "abc");
}

TEST(QtPasswordPrompt, OkOnEmptyIsIgnoredEnterAcceptsEscapeAndCancelReject) {
  {
    PasswordPrompt prompt;
    prompt.show();
    QTest::mouseClick(prompt.OkButton(), Qt::LeftButton);
    QTest::keyClick(prompt.Field(), Qt::Key_Return);
    EXPECT_TRUE(prompt.isVisible()) << "OK and Enter with an empty field";
    EXPECT_NE(prompt.result(), QDialog::Accepted);
  }
  struct Case {
    std::function<void(PasswordPrompt&)> keys;
    int result;
  } cases[] = {
      {[](PasswordPrompt& p) { QTest::keyClicks(p.Field(), "secret"); QTest::keyClick(p.Field(), Qt::Key_Return); },
       QDialog::Accepted},
      {[](PasswordPrompt& p) { QTest::keyClicks(p.Field(), "secret"); QTest::keyClick(p.Field(), Qt::Key_Escape); },
       QDialog::Rejected},
      {[](PasswordPrompt& p) { QTest::keyClicks(p.Field(), "secret"); QTest::mouseClick(p.CancelButton(), Qt::LeftButton); },
       QDialog::Rejected},
  };
  for (const Case& c : cases) {
    PasswordPrompt prompt;
    QTimer::singleShot(0, &prompt, [&] { c.keys(prompt); });
    EXPECT_EQ(prompt.exec(), c.result);
    EXPECT_EQ(prompt.m_typed, c.result == QDialog::Accepted ? "secret" : "");
  }
}

TEST(QtProgressWindow, TextsAndCancelOnlyRaisesTheFlag) {
  for (auto [operation, message] : {std::pair<int, const char*>{OPERATION_ENCRYPT, "암호화중..."},
                                    {OPERATION_DECRYPT, "복호화중..."}, {0, "복호화중..."}}) {
    ProgressWindow window(operation, [] {});
    EXPECT_EQ(window.MessageLine()->text(), Q(message)) << operation;
  }
  int cancels = 0;
  ProgressWindow window(OPERATION_DECRYPT, [&] { ++cancels; });
  EXPECT_EQ(window.windowTitle(), Q("파일 처리중"));
  EXPECT_EQ(window.CancelButton()->text(), Q("취소(&C)"));
  EXPECT_TRUE(HasIcon(window));
  EXPECT_EQ(window.Bar()->minimum(), 0);
  EXPECT_EQ(window.Bar()->maximum(), 100);
  EXPECT_FALSE(window.isVisible()) << "hidden until the first file";

  const std::string path = "/home/u/<b>보고서</b> & 계획.docx.aqv3";
  window.StartFile("/first.aqv3");
  window.SetProgress(60);
  EXPECT_EQ(window.Bar()->value(), 60);
  window.StartFile(path);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.Bar()->value(), 0) << "each file starts at 0";
  EXPECT_EQ(window.FileLine()->text(), Q(path.c_str()));
  EXPECT_EQ(window.FileLine()->textFormat(), Qt::PlainText) << "a path is never markup";

  QTest::mouseClick(window.CancelButton(), Qt::LeftButton);
  QTest::keyClick(&window, Qt::Key_Escape);
  EXPECT_FALSE(window.close());
  EXPECT_EQ(cancels, 3);
  EXPECT_TRUE(window.isVisible()) << "Cancel, Escape and closing leave the window open";
  EXPECT_FALSE(window.windowFlags() & Qt::WindowCloseButtonHint);
}

// --- accessibility and layout -------------------------------------------------------------

// Names, descriptions and roles are read through the accessibility bus (atspi_test.py);
// here, what only the keyboard shows: each label with a mnemonic is the buddy of a field
// that Alt with that letter reaches, whatever has the focus.
TEST(QtAccessibility, AltWithEachLabelsLetterReachesItsField) {
  PasswordPrompt prompt;
  NewPasswordPrompt newPrompt;
  for (const auto& [window, fields] : {std::pair<QDialog*, int>{&prompt, 1}, {&newPrompt, 2}}) {
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    int buddies = 0;
    for (QLabel* label : window->findChildren<QLabel*>()) {
      const qsizetype amp = label->text().indexOf(QLatin1Char('&'));
      if (amp < 0) continue;
      ++buddies;
      ASSERT_NE(label->buddy(), nullptr) << label->text().toStdString();
      window->findChild<QPushButton*>()->setFocus();
      const QChar letter = label->text().at(amp + 1).toUpper();
      QTest::keyClick(window, static_cast<Qt::Key>(letter.unicode()), Qt::AltModifier);
      EXPECT_EQ(QApplication::focusWidget(), label->buddy()) << "Alt+" << letter.toLatin1();
    }
    EXPECT_EQ(buddies, fields);
  }
}

// No text is ever cut: at every font size every label and button is at least as big as
// its text needs, and a long name without a space is broken into lines, not cut off.
TEST(QtLayout, NoTextIsCutAtAnyFontSize) {
  const QFont desktop = QApplication::font();
  const std::string longName = "/home/u/" + std::string(120, 'x') + "보고서" + std::string(60, 'W') + ".aqv3";
  for (const int points : {6, 10, 16, 28}) {
    QFont font = desktop;
    font.setPointSize(points);
    QApplication::setFont(font);
    PasswordPrompt prompt;
    NewPasswordPrompt newPrompt;
    ProgressWindow progress(OPERATION_ENCRYPT, [] {});
    progress.StartFile(longName);
    for (QDialog* window : std::initializer_list<QDialog*>{&prompt, &newPrompt, &progress}) {
      window->show();
      ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
      EXPECT_GE(window->font().pointSize(), std::max(points, 10)) << "the desktop's size, the template's at least";
      for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (!qobject_cast<QLabel*>(widget) && !qobject_cast<QPushButton*>(widget)) continue;
        const QSize need = widget->sizeHint(), has = widget->size();
        EXPECT_GE(has.width(), need.width()) << points << " pt: " << widget->accessibleName().toStdString();
        EXPECT_GE(has.height(), need.height()) << points << " pt: " << widget->accessibleName().toStdString();
        EXPECT_TRUE(window->rect().contains(widget->geometry())) << widget->accessibleName().toStdString();
      }
    }
    QString shown = progress.FileLine()->text();
    shown.remove(QLatin1Char('\n'));
    EXPECT_EQ(shown, Q(longName.c_str())) << "every character of the name is shown";
  }
  QApplication::setFont(desktop);
}

TEST(QtErrorBox, ModalOnTopPlainTextOneButton) {
  const auto box = MakeErrorBox(kJobErrorCaption, "파일에 오류가 있습니다.\r\n<b>/x/y.aqv3</b>:\nNo such file");
  EXPECT_EQ(box->windowTitle(), Q("타르베신 외부암호화파일 뷰어"));
  EXPECT_EQ(box->text(), Q("파일에 오류가 있습니다.\n<b>/x/y.aqv3</b>:\nNo such file"));
  EXPECT_EQ(box->textFormat(), Qt::PlainText);
  EXPECT_EQ(box->icon(), QMessageBox::Critical);
  EXPECT_EQ(box->buttons().size(), 1);
  EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
  EXPECT_TRUE(box->windowFlags() & Qt::WindowStaysOnTopHint);
}

// The engine's calls arrive from a worker thread; the window lives on the GUI thread and
// is served by the waiting thread's events. Cancel there is seen by the worker, and the
// window stays until the worker closes its view.
TEST(QtFrontEnd, ProgressFromAWorkerThreadAndCancel) {
  QtFrontEnd ui;
  struct Shared {
    QtFrontEnd* ui;
    std::atomic<bool> cancelled{false};
    unsigned lastPercent = 0;
  } shared{&ui};
  ProgressWindow* seen = nullptr;
  bool stayedAfterCancel = false, onGuiThread = false;
  int bar = -1;
  Poll([&] {
    ProgressWindow* window = VisibleProgressWindow();
    if (!seen && window && window->Bar()->value() >= 5) {
      seen = window;
      onGuiThread = window->thread() == QThread::currentThread();
      bar = window->Bar()->value();
      QTest::mouseClick(window->CancelButton(), Qt::LeftButton);
      stayedAfterCancel = window->isVisible();
      return true;
    }
    return false;
  });
  const ThreadHandle worker = StartThread(
      [](void* arg) -> unsigned {
        auto* s = static_cast<Shared*>(arg);
        std::unique_ptr<ProgressView> view = s->ui->OpenProgress(OPERATION_DECRYPT);
        view->StartFile("/a/b.aqv3");
        for (unsigned p = 0; p <= 100 && !s->cancelled; ++p) {
          view->SetProgress(p);
          s->lastPercent = p;
          SleepMilliseconds(30);
          s->cancelled = view->IsCancelled();
        }
        return 0;
      },
      &shared);
  ASSERT_NE(worker, 0u);
  WaitServingMessages(worker, [&] { ui.ServeEvents(); });
  ReapThread(worker);
  EXPECT_TRUE(shared.cancelled) << "the worker saw Cancel";
  EXPECT_LT(shared.lastPercent, 100u);
  EXPECT_TRUE(onGuiThread);
  EXPECT_GE(bar, 5);
  EXPECT_TRUE(stayedAfterCancel);
  QCoreApplication::processEvents();
  EXPECT_EQ(VisibleProgressWindow(), nullptr) << "closed with the view";
}

// A real job with the wrong password: the engine's box is shown on the GUI thread with
// the job's caption and text while the worker waits for it.
TEST(QtFrontEnd, TheEnginesErrorBoxFromAJob) {
  TempDir dir;
  const std::string container = MakeContainer(dir, "report.docx", "right", 200000);
  QtFrontEnd ui;
  QString title, text;
  bool onGuiThread = false;
  Poll([&] {
    QMessageBox* box = TopLevel<QMessageBox>();
    if (!box) return false;
    title = box->windowTitle();
    text = box->text();
    onGuiThread = box->thread() == QThread::currentThread();
    box->button(QMessageBox::Ok)->click();
    return true;
  });
  JobRunner runner(ui);
  FileList* files = new FileList;
  files->Append(container);
  runner.RunJob(files, Flags(false), "wrong");
  EXPECT_EQ(title, Q("타르베신 외부암호화파일 뷰어"));
  std::string expected = FailureText({FailureKind::KeyBlockMac, 0, container});
  for (size_t at; (at = expected.find("\r\n")) != std::string::npos;) expected.erase(at, 1);
  EXPECT_EQ(text, Q(expected.c_str()));
  EXPECT_TRUE(onGuiThread);
  EXPECT_FALSE(Exists(dir / "report.docx"));
}

