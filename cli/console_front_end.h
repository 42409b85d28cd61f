#pragma once
// The front end of qv3's decrypt and encrypt: a progress bar on standard error when it
// is a terminal (nothing otherwise), error notices as "qv3: error: " lines on standard
// error, and Ctrl-C as the Cancel button. All calls come from the job's worker thread;
// the results are read once the job has ended.

#include <cstdint>
#include <memory>
#include <string>

#include "container/front_end.h"

class ConsoleFrontEnd : public FrontEnd {
 public:
  // fileCount: how many files the job was given, shown as "[i/n]" when above one.
  ConsoleFrontEnd(bool showProgress, size_t fileCount);
  ~ConsoleFrontEnd() override;

  std::unique_ptr<ProgressView> OpenProgress(ProgressOperation operation) override;
  void ShowErrorMessage(const std::string& message, uint32_t code) override;

  bool FailureReported() const { return m_failureReported; }
  // 130 when Ctrl-C stopped the work, else 1 when a failure was reported, else 0. A
  // Ctrl-C that no engine was told of before it ended stopped nothing: every file given
  // was done (or a failure ended the job first).
  int ExitStatus() const;
  // A progress view told its engine that the user cancelled: the engine stops.
  void NoteStopped() { m_stopped = true; }

  // The progress line: redrawn in place, ended with a line break before anything else
  // is printed on standard error.
  void DrawLine(const std::string& text);
  void EndLine();

 private:
  bool m_showProgress;
  size_t m_fileCount;
  bool m_failureReported = false;
  bool m_stopped = false;
  size_t m_drawnLength = 0;  // bytes of the line now on screen, 0 when none
};

// The bar's line for a file: "[i/n] name  42% [########            ]  12.3 MB/s" cut to
// width columns (the name is shortened from the left, never inside a character).
// index counts from 1; bytesPerSecond < 0 leaves the rate out.
std::string FormatProgressLine(const std::string& name, size_t index, size_t count,
                               unsigned percent, double bytesPerSecond, size_t width);
