#include "ui/qt/qt_front_end.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QEventLoop>
#include <QtCore/QThread>
#include <QtCore/QTimer>

#include <atomic>

#include "platform/console.h"
#include "platform/system_error.h"
#include "platform/text.h"
#include "ui/qt/error_box.h"
#include "ui/qt/progress_window.h"

namespace {

constexpr int kServeSliceMs = 250;

// What the engine's thread and the window share: the window (touched on the GUI thread
// only, by the queued calls, which run in the order they were made) and the flag.
struct ProgressShared {
  std::atomic<bool> cancelled{false};
  ProgressWindow* window = nullptr;
};

class QueuedProgressView : public ProgressView {
 public:
  QueuedProgressView(QtFrontEnd& ui, int operation, std::function<void()> closed)
      : m_ui(ui), m_shared(std::make_shared<ProgressShared>()), m_closed(std::move(closed)) {
    auto shared = m_shared;
    m_ui.OnGuiThread(
        [shared, operation] { shared->window = new ProgressWindow(operation, [shared] { shared->cancelled = true; }); },
        false);
  }
  ~QueuedProgressView() override {
    auto shared = m_shared;
    auto closed = m_closed;
    m_ui.OnGuiThread(
        [shared, closed] {
          delete shared->window;
          shared->window = nullptr;
          closed();
        },
        false);
  }

  void StartFile(const std::string& path) override {
    auto shared = m_shared;
    m_ui.OnGuiThread([shared, path] { shared->window->StartFile(path); }, false);
  }
  void SetProgress(unsigned percent) override {
    auto shared = m_shared;
    m_ui.OnGuiThread([shared, percent] { shared->window->SetProgress(percent); }, false);
  }
  // The window's Cancel, or a signal that ends the program's session (InstallInterruptHandler).
  bool IsCancelled() override { return m_shared->cancelled.load() || InterruptRequested(); }

 private:
  QtFrontEnd& m_ui;
  std::shared_ptr<ProgressShared> m_shared;
  std::function<void()> m_closed;
};

}  // namespace

QtFrontEnd::QtFrontEnd() : m_gui(std::make_unique<QObject>()) {}

QtFrontEnd::~QtFrontEnd() = default;

void QtFrontEnd::OnGuiThread(std::function<void()> call, bool wait) {
  if (QThread::currentThread() == m_gui->thread()) {
    call();
    return;
  }
  QMetaObject::invokeMethod(m_gui.get(), std::move(call), wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}

std::unique_ptr<ProgressView> QtFrontEnd::OpenProgress(ProgressOperation operation) {
  return std::make_unique<QueuedProgressView>(*this, operation, [this] {
    if (m_serving) m_serving->quit();
  });
}

void QtFrontEnd::ShowErrorMessage(const std::string& message, uint32_t code) {
  const std::string text = AppendSystemErrorText(message, code);
  if (m_log) *m_log << "tarvessin-viewer: box \"" << Tr(kJobErrorCaption) << "\": " << EscapeControls(text, true) << std::endl;
  OnGuiThread([&text] { ShowErrorBox(Tr(kJobErrorCaption), text); }, true);
}

void QtFrontEnd::ServeEvents() {
  if (!QCoreApplication::instance()) return;
  QEventLoop loop;
  m_serving = &loop;
  QTimer::singleShot(kServeSliceMs, &loop, &QEventLoop::quit);
  loop.exec();
  m_serving = nullptr;
}
