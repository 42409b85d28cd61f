#pragma once
// The front end of qv3's decrypt and encrypt over a batch of files, several of which may
// be worked on at once, each by an engine run of its own: a file's error notices are held
// until every earlier file's are out, then printed as "qv3: error: " lines on standard
// error; one progress line for the whole batch is drawn there when it is a terminal
// (nothing otherwise); Ctrl-C is the Cancel button of every file in progress.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "container/engines.h"
#include "container/front_end.h"
#include "platform/lock.h"

class ConsoleBatch {
 public:
  // paths: the batch's files in the order given; their sizes are read for the progress
  // line, only when it is shown.
  ConsoleBatch(bool showProgress, const std::vector<std::string>& paths);
  ~ConsoleBatch();
  ConsoleBatch(const ConsoleBatch&) = delete;
  ConsoleBatch& operator=(const ConsoleBatch&) = delete;

  // The front end of the engine run over file (counted from 0), on that run's thread.
  FrontEnd& File(size_t file);
  // On that thread, once file's engine run has returned with what became of it: the
  // progress line counts it as done only when it was.
  void RunEnded(size_t file, FileOutcome outcome);
  // On the calling thread, once per file in the order given: prints file's notices.
  // started false: Ctrl-C kept it from starting, so the work was stopped.
  void Ended(size_t file, bool started);
  // Every file has ended (test builds may raise Ctrl-C here: it stops nothing).
  void AllEnded();

  // InterruptExitStatus() when Ctrl-C or a signal like it stopped work (a file in
  // progress or one not yet started), else 1 when
  // a file failed, else 0: what became of the files decides, never whether something was
  // printed. A Ctrl-C that no file met stopped nothing.
  int ExitStatus() const;
  // Ends the progress line, if one is drawn, with a line break.
  void EndLine();

 private:
  class FileUi;
  class View;
  friend class View;

  using Clock = std::chrono::steady_clock;
  void Progress(size_t file, unsigned percent);
  void Redraw(Clock::time_point now);  // these two with m_screen held
  void EndLineLocked();
  void ClearLineLocked();  // takes the progress line off the screen before a message

  const bool m_showProgress;
  std::vector<std::unique_ptr<FileUi>> m_files;
  std::atomic<bool> m_stopped{false};
  std::vector<FileOutcome> m_outcomes;  // each written by its run's thread before Ended
  // Test builds: QV3_TEST_INTERRUPT raises Ctrl-C once file m_testFile (from 1) reaches
  // m_testPercent, or (m_testAtEnd) once every file has ended.
  size_t m_testFile = 0;
  unsigned long m_testPercent = 0;
  bool m_testAtEnd = false;

  // Standard error and the progress line's figures, under m_screen (names and sizes
  // are set before any run starts).
  Lock m_screen;
  size_t m_drawnLength = 0;  // bytes of the line now on screen, 0 when none
  std::vector<std::string> m_names;
  std::vector<uint64_t> m_sizes, m_doneBytes;
  uint64_t m_totalBytes = 0, m_bytesDone = 0;
  size_t m_filesDone = 0;
  unsigned m_percent = 0;  // the last a file reported (the line of a single file shows it)
  bool m_started = false;  // the first file has started: m_start is set
  Clock::time_point m_start, m_lastDraw;
};

// The line for one file: "[i/n] name  42% [########            ]  12.3 MB/s" cut to
// width columns (the name is shortened from the left, never inside a character).
// index counts from 1; bytesPerSecond < 0 leaves the rate out.
std::string FormatProgressLine(const std::string& name, size_t index, size_t count,
                               unsigned percent, double bytesPerSecond, size_t width);

// The line for a batch: "[3/10] 120.5/400.0 MB  30% [######              ]  12.3 MB/s":
// files done of files, bytes done of bytes. bytesPerSecond < 0 leaves the rate out.
std::string FormatBatchLine(size_t filesDone, size_t files, uint64_t bytesDone, uint64_t bytes,
                            double bytesPerSecond);
