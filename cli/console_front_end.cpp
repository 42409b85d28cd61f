#include "cli/console_front_end.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "container/folder_files.h"
#include "platform/catalog.h"
#include "platform/console.h"
#include "platform/file_ops.h"
#include "platform/system_error.h"
#include "platform/text.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kLineWidth = 79;  // stays on one line of an 80-column terminal
constexpr size_t kBarWidth = 20;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

// Byte length of the UTF-8 character that starts at s[at].
size_t CharLength(const std::string& s, size_t at) {
  const unsigned char b = static_cast<unsigned char>(s[at]);
  size_t n = 1;
  if (b >= 0xF0)
    n = 4;
  else if (b >= 0xE0)
    n = 3;
  else if (b >= 0xC0)
    n = 2;
  return at + n <= s.size() ? n : s.size() - at;
}

// The last part of path (after its last separator).
std::string BaseName(const std::string& path) {
  const size_t separator = path.find_last_of(kPathSeparator);
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

// name shortened from the left to at most width bytes, whole characters only. A byte
// never takes less than a column, so the text fits width columns.
std::string FitName(const std::string& name, size_t width) {
  if (name.size() <= width) return name;
  if (width < 4) return std::string(width, '.');
  size_t start = 0;
  while (start < name.size() && name.size() - start > width - 3) start += CharLength(name, start);
  return "..." + name.substr(start);
}

// " 42% [########            ]  12.3 MB/s"; bytesPerSecond < 0 leaves the rate out.
std::string BarAndRate(unsigned percent, double bytesPerSecond) {
  if (percent > 100) percent = 100;
  const size_t filled = kBarWidth * percent / 100;
  std::string bar(filled, '#');
  bar.append(kBarWidth - filled, ' ');
  char text[64];
  if (bytesPerSecond >= 0)
    std::snprintf(text, sizeof text, " %3u%% [%s] %7.1f MB/s", percent, bar.c_str(),
                  bytesPerSecond / 1e6);
  else
    std::snprintf(text, sizeof text, " %3u%% [%s]", percent, bar.c_str());
  return text;
}

}  // namespace

std::string FormatProgressLine(const std::string& name, size_t index, size_t count,
                               unsigned percent, double bytesPerSecond, size_t width) {
  std::string prefix;
  if (count > 1) prefix = "[" + std::to_string(index) + "/" + std::to_string(count) + "] ";
  const std::string tail = BarAndRate(percent, bytesPerSecond);
  const size_t fixed = prefix.size() + tail.size();
  const size_t room = width > fixed ? width - fixed : 0;
  return prefix + FitName(name, room) + tail;
}

std::string FormatBatchLine(size_t filesDone, size_t files, uint64_t bytesDone, uint64_t bytes,
                            double bytesPerSecond) {
  const bool gigabytes = bytes >= 100000000000ull;  // keeps the line within 79 columns
  const double unit = gigabytes ? 1e9 : 1e6;
  char text[96];
  std::snprintf(text, sizeof text, "[%zu/%zu] %.1f/%.1f %s", filesDone, files,
                static_cast<double>(bytesDone) / unit, static_cast<double>(bytes) / unit,
                gigabytes ? "GB" : "MB");
  const unsigned percent = bytes ? static_cast<unsigned>(bytesDone * 100 / bytes)
                                 : static_cast<unsigned>(files ? filesDone * 100 / files : 100);
  return text + BarAndRate(percent, bytesPerSecond);
}

// ---------------------------------------------------------------------------------------

// What one file's engine run reports to: its notices, held until they may be printed,
// and its share of the progress line.
class ConsoleBatch::FileUi : public FrontEnd {
 public:
  FileUi(ConsoleBatch& batch, size_t file) : m_batch(batch), m_file(file) {}
  std::unique_ptr<ProgressView> OpenProgress(ProgressOperation) override;
  void ShowErrorMessage(const std::string& message, uint32_t code) override {
    m_notices += "qv3: error: " + EscapeControls(AppendSystemErrorText(message, code), true) + "\n";
  }
  void ShowNotice(const std::string& message) override { m_notices += "qv3: " + EscapeControls(message, true) + "\n"; }
  // Written by the run's thread; read by the calling thread once the run has ended.
  std::string m_notices;
  FileOutcome m_outcome = FileOutcome::NotStarted;
  // The progress line's, under the batch's m_screen.
  std::string m_name;
  uint64_t m_size = 0, m_doneBytes = 0;

 private:
  ConsoleBatch& m_batch;
  size_t m_file;
};

class ConsoleBatch::View : public ProgressView {
 public:
  View(ConsoleBatch& batch, size_t file) : m_batch(batch), m_file(file) {}

  void StartFile(const std::string&) override { SetProgress(0); }

  void SetProgress(unsigned percent) override {
#ifdef QV3_TEST_HOOKS
    // Test builds only: Ctrl-C at a moment a test chooses, which a signal sent from
    // outside cannot hit for certain.
    if (!m_raised && m_batch.m_testFile == m_file + 1 && percent >= m_batch.m_testPercent) {
      m_raised = true;
      RaiseInterrupt();
    }
#endif
    m_batch.Progress(m_file, percent);
  }

  // The engine stops as soon as this says yes, leaving the file in progress undone.
  bool IsCancelled() override {
    if (!InterruptRequested()) return false;
    m_batch.m_stopped = true;
    return true;
  }

 private:
  ConsoleBatch& m_batch;
  size_t m_file;
  bool m_raised = false;
};

std::unique_ptr<ProgressView> ConsoleBatch::FileUi::OpenProgress(ProgressOperation) {
  return std::make_unique<View>(m_batch, m_file);
}

ConsoleBatch::ConsoleBatch(bool showProgress, FolderFiles& files, bool single)
    : m_showProgress(showProgress), m_single(single), m_source(files) {
#ifdef QV3_TEST_HOOKS
  // QV3_TEST_INTERRUPT="FILE:PERCENT" raises Ctrl-C once file FILE (counted from 1) has
  // reached PERCENT (0: as it starts); "end" once every file has ended.
  if (const char* setting = std::getenv("QV3_TEST_INTERRUPT")) {
    unsigned long file = 0;
    char extra = 0;
    if (std::strcmp(setting, "end") == 0)
      m_testAtEnd = true;
    else if (std::sscanf(setting, "%lu:%lu%c", &file, &m_testPercent, &extra) == 2)
      m_testFile = file;
  }
#endif
}

ConsoleBatch::~ConsoleBatch() { EndLine(); }

ConsoleBatch::FileUi& ConsoleBatch::At(size_t file) { return *m_files[file - m_firstKept]; }

void ConsoleBatch::Found(size_t file, const ListedFile& listed) {
  auto ui = std::make_unique<FileUi>(*this, file);
  if (m_showProgress) {
    ui->m_name = EscapeControls(BaseName(listed.path));
    ui->m_size = listed.size;
  }
  LockGuard guard(&m_screen);
  m_files.push_back(std::move(ui));
}

FrontEnd& ConsoleBatch::File(size_t file) {
  LockGuard guard(&m_screen);
  return At(file);
}

void ConsoleBatch::Progress(size_t file, unsigned percent) {
  if (!m_showProgress) return;
  LockGuard guard(&m_screen);
  const auto now = Clock::now();
  if (!m_started) {
    m_started = true;
    m_start = now;
  }
  FileUi& ui = At(file);
  const uint64_t done = ui.m_size * (percent > 100 ? 100 : percent) / 100;
  if (done > ui.m_doneBytes) {
    m_bytesDone += done - ui.m_doneBytes;
    ui.m_doneBytes = done;
  }
  m_percent = percent;
  if (percent >= 100 || now - m_lastDraw >= kRedrawInterval) Redraw(now);
}

void ConsoleBatch::RunEnded(size_t file, FileOutcome outcome) {
  LockGuard guard(&m_screen);
  FileUi& ui = At(file);
  ui.m_outcome = outcome;
  if (!m_showProgress) return;
  // A file that failed or was cancelled left nothing: none of its bytes count as done.
  const uint64_t done = outcome == FileOutcome::Done ? ui.m_size : 0;
  m_bytesDone = m_bytesDone - ui.m_doneBytes + done;
  ui.m_doneBytes = done;
  if (outcome == FileOutcome::Done) ++m_filesDone;
  if (!m_single) Redraw(Clock::now());
}

void ConsoleBatch::Redraw(Clock::time_point now) {
  m_lastDraw = now;
  const double seconds = std::chrono::duration<double>(now - m_start).count();
  const double rate = seconds >= 0.2 ? static_cast<double>(m_bytesDone) / seconds : -1;
  std::string text;
  if (m_single) {
    const FileUi& only = *m_files.front();
    text = FormatProgressLine(only.m_name, 1, 1, m_percent, only.m_size ? rate : -1, kLineWidth);
  } else {
    // Files done of the files found so far: the whole once the walk is over.
    const FolderFiles::Found found = m_source.FoundSoFar();
    text = FormatBatchLine(m_filesDone, static_cast<size_t>(found.files), m_bytesDone,
                           std::max(found.bytes, m_bytesDone), rate);
  }
  std::string out = "\r" + text;
  // Blanks over what is left of a longer previous line.
  if (m_drawnLength > text.size()) out.append(m_drawnLength - text.size(), ' ');
  WriteStandard(StandardStream::Error, out);
  m_drawnLength = text.size() > 0 ? text.size() : 1;
}

void ConsoleBatch::Ended(size_t file, bool started) {
  if (!started) m_stopped = true;
  std::unique_ptr<FileUi> ui;
  {
    LockGuard guard(&m_screen);
    ui = std::move(m_files.front());
    m_files.pop_front();
    ++m_firstKept;
  }
  (void)file;
  if (ui->m_outcome != FileOutcome::Done) m_anyNotDone = true;
  if (ui->m_outcome == FileOutcome::Done) ++m_filesHandedDone;
  if (ui->m_outcome == FileOutcome::Failed) ++m_filesFailed;
  if (ui->m_notices.empty()) return;
  LockGuard guard(&m_screen);
  // The message takes the line's place; a batch's line comes back below it.
  const bool drawn = m_drawnLength > 0;
  ClearLineLocked();
  WriteStandard(StandardStream::Error, ui->m_notices);
  if (drawn && !m_single) Redraw(Clock::now());
}

void ConsoleBatch::Say(const std::string& line) {
  LockGuard guard(&m_screen);
  const bool drawn = m_drawnLength > 0;
  ClearLineLocked();
  WriteStandard(StandardStream::Error, line);
  if (drawn && !m_single) Redraw(Clock::now());
}

void ConsoleBatch::AllEnded() {
#ifdef QV3_TEST_HOOKS
  if (m_testAtEnd) RaiseInterrupt();
#endif
}

int ConsoleBatch::ExitStatus() const {
  if (m_stopped) return InterruptExitStatus();
  return m_anyNotDone ? 1 : 0;
}

void ConsoleBatch::EndLine() {
  LockGuard guard(&m_screen);
  EndLineLocked();
}

void ConsoleBatch::ClearLineLocked() {
  if (m_drawnLength == 0) return;
  WriteStandard(StandardStream::Error, "\r" + std::string(m_drawnLength, ' ') + "\r");
  m_drawnLength = 0;
}

void ConsoleBatch::EndLineLocked() {
  if (m_drawnLength == 0) return;
  WriteStandard(StandardStream::Error, "\n");
  m_drawnLength = 0;
}
