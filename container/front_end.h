#pragma once
// What the engines need from a front end: a progress view for the run and an error
// notice. The engines never include a window header; the Win32 viewer, the console tool,
// tests (and later other desktops) each supply their own.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "container/failure.h"
#include "container/password_rule.h"  // kPromptPasswordBytes

enum ProgressOperation { OPERATION_ENCRYPT = 119, OPERATION_DECRYPT = 120 };


// One per engine run, opened hidden, used and closed on the engine's thread. An
// implementation whose window lives on another thread forwards these calls there.
class ProgressView {
 public:
  virtual ~ProgressView() = default;
  // Start of each file: bar to 0, the file line to path, shown and repainted, pending
  // events processed.
  virtual void StartFile(const std::string& path) = 0;
  // Bar to percent (0..100), repainted, pending events processed.
  virtual void SetProgress(unsigned percent) = 0;
  // True once the user asked to stop; it stays true.
  virtual bool IsCancelled() = 0;
};

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;
  // Opens the progress view of one engine run (operation fixes its message line). The
  // view is closed and released when the returned object is destroyed.
  virtual std::unique_ptr<ProgressView> OpenProgress(ProgressOperation operation) = 0;
  // Shows an error notice and returns when the user has dismissed it: message, then for
  // a non-zero code ":\n" and the system's text up to its first carriage return.
  virtual void ShowErrorMessage(const std::string& message, uint32_t code) = 0;
  // How the engines and the job runner report a failure: by default its text in an error
  // notice. A front end that acts on the kind (an exit status, a retry) overrides it.
  virtual void ReportFailure(const Failure& failure) { ShowErrorMessage(FailureText(failure), failure.code); }
  // Something the user should know that is no failure (what a run that died left was
  // removed, for one): the console prints it, a desktop keeps it in its log.
  virtual void ShowNotice(const std::string& /*message*/) {}
  // Called now and then by a thread that waits for a job, where the platform has no
  // message queue of its own to serve (a toolkit's event loop, for one).
  virtual void ServeEvents() {}
};
