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
  // 130 when Ctrl-C was pressed, else 1 when a failure was reported, else 0.
  int ExitStatus() const;

  // The progress line: redrawn in place, ended with a line break before anything else
  // is printed on standard error.
  void DrawLine(const std::string& text);
  void EndLine();

 private:
  bool m_showProgress;
  size_t m_fileCount;
  bool m_failureReported = false;
  size_t m_drawnLength = 0;  // bytes of the line now on screen, 0 when none
};

// The bar's line for a file: "[i/n] name  42% [########            ]  12.3 MB/s" cut to
// width columns (the name is shortened from the left, never inside a character).
// index counts from 1; bytesPerSecond < 0 leaves the rate out.
std::string FormatProgressLine(const std::string& name, size_t index, size_t count,
                               unsigned percent, double bytesPerSecond, size_t width);
