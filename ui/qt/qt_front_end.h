#pragma once
// What the engines see of a job in the Qt viewer. Widgets live on the GUI thread only,
// while the engines run on the job's worker thread: the progress view forwards each call
// to the GUI thread as a queued call (never waiting for it, so the engine never stalls
// on the window) and reads the Cancel flag, an atomic the window raises; an error box is
// shown on the GUI thread while the worker waits for it to be dismissed. The GUI thread
// meanwhile waits for the job in ServeEvents, running its event loop, which is what
// makes those calls happen. Called on the GUI thread itself, both act at once.

#include <QtCore/QObject>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "container/front_end.h"

class QEventLoop;

class QtFrontEnd : public FrontEnd {
 public:
  // On the GUI thread, which every window of the job then belongs to.
  QtFrontEnd();
  ~QtFrontEnd() override;

  std::unique_ptr<ProgressView> OpenProgress(ProgressOperation operation) override;
  void ShowErrorMessage(const std::string& message, uint32_t code) override;
  // Runs the GUI thread's event loop for a while (at most a quarter of a second, less
  // when a job's progress window closes: the job is then ending).
  void ServeEvents() override;

  // With a log (--verbose), every box's text is written there too.
  void SetLog(std::ostream* log) { m_log = log; }

  // Runs call on the GUI thread: at once when called there, else queued, waiting for it
  // to have run when wait is set.
  void OnGuiThread(std::function<void()> call, bool wait);

 private:
  std::unique_ptr<QObject> m_gui;   // lives on the GUI thread: the queued calls' context
  QEventLoop* m_serving = nullptr;  // the loop ServeEvents runs, GUI thread only
  std::ostream* m_log = nullptr;
};
