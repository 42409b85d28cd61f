#include "cli/console_front_end.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/file_handle.h"
#include "platform/console.h"
#include "platform/file_ops.h"
#include "platform/system_error.h"

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

#ifdef QV3_TEST_HOOKS
// Test builds of qv3 only (never the shipped program): Ctrl-C at a moment a test
// chooses, which a signal sent from outside cannot hit for certain.
// QV3_TEST_INTERRUPT="FILE:PERCENT" raises it once file FILE (counted from 1) has reached
// PERCENT (0: as it starts); "end" raises it as the engine closes its view, after its
// last file.
class TestInterrupt {
 public:
  TestInterrupt() {
    const char* setting = std::getenv("QV3_TEST_INTERRUPT");
    if (!setting) return;
    unsigned long file = 0;
    char extra = 0;
    if (std::strcmp(setting, "end") == 0)
      m_atEnd = true;
    else if (std::sscanf(setting, "%lu:%lu%c", &file, &m_percent, &extra) == 2)
      m_file = file;
  }
  // File index (from 1) has reached percent.
  void At(size_t index, unsigned percent) {
    if (m_file == index && percent >= m_percent) {
      m_file = 0;
      RaiseInterrupt();
    }
  }
  void AtEnd() {
    if (m_atEnd) RaiseInterrupt();
  }

 private:
  size_t m_file = 0;  // 0: not at a file
  unsigned long m_percent = 0;
  bool m_atEnd = false;
};
#else
class TestInterrupt {
 public:
  void At(size_t, unsigned) {}
  void AtEnd() {}
};
#endif

class ConsoleProgressView : public ProgressView {
 public:
  ConsoleProgressView(ConsoleFrontEnd& ui, bool draw, size_t fileCount)
      : m_ui(ui), m_draw(draw), m_fileCount(fileCount) {}
  ~ConsoleProgressView() override {
    if (m_draw) m_ui.EndLine();
    m_test.AtEnd();
  }

  void StartFile(const std::string& path) override {
    ++m_index;
    m_test.At(m_index, 0);
    if (!m_draw) return;
    m_ui.EndLine();  // the previous file's line stays as it ended
    m_name = BaseName(path);
    m_size = 0;
    FileHandle file;
    int64_t size = 0;
    if (file.Open(path.c_str(), FileMode::Read, Disposition::OpenExisting) == 0 &&
        file.GetSize(&size) == 0)
      m_size = static_cast<uint64_t>(size);
    m_start = Clock::now();
    m_percent = 0;
    Redraw();
  }

  void SetProgress(unsigned percent) override {
    m_test.At(m_index, percent);
    if (!m_draw) return;
    m_percent = percent;
    if (percent >= 100 || Clock::now() - m_lastDraw >= kRedrawInterval) Redraw();
  }

  // The engines stop as soon as this says yes, leaving the file in progress undone.
  bool IsCancelled() override {
    if (!InterruptRequested()) return false;
    m_ui.NoteStopped();
    return true;
  }

 private:
  void Redraw() {
    m_lastDraw = Clock::now();
    const double seconds = std::chrono::duration<double>(m_lastDraw - m_start).count();
    double rate = -1;
    if (seconds >= 0.2 && m_size > 0)
      rate = static_cast<double>(m_size) * m_percent / 100.0 / seconds;
    m_ui.DrawLine(FormatProgressLine(m_name, m_index, m_fileCount, m_percent, rate, kLineWidth));
  }

  ConsoleFrontEnd& m_ui;
  bool m_draw;
  size_t m_fileCount;
  size_t m_index = 0;
  std::string m_name;
  uint64_t m_size = 0;
  unsigned m_percent = 0;
  Clock::time_point m_start;
  Clock::time_point m_lastDraw;
  TestInterrupt m_test;
};

}  // namespace

std::string FormatProgressLine(const std::string& name, size_t index, size_t count,
                               unsigned percent, double bytesPerSecond, size_t width) {
  if (percent > 100) percent = 100;
  std::string prefix;
  if (count > 1) prefix = "[" + std::to_string(index) + "/" + std::to_string(count) + "] ";
  char tail[64];
  const size_t filled = kBarWidth * percent / 100;
  std::string bar(filled, '#');
  bar.append(kBarWidth - filled, ' ');
  if (bytesPerSecond >= 0)
    std::snprintf(tail, sizeof tail, " %3u%% [%s] %7.1f MB/s", percent, bar.c_str(),
                  bytesPerSecond / 1e6);
  else
    std::snprintf(tail, sizeof tail, " %3u%% [%s]", percent, bar.c_str());
  const size_t fixed = prefix.size() + std::string(tail).size();
  const size_t room = width > fixed ? width - fixed : 0;
  return prefix + FitName(name, room) + tail;
}

ConsoleFrontEnd::ConsoleFrontEnd(bool showProgress, size_t fileCount)
    : m_showProgress(showProgress), m_fileCount(fileCount) {}

ConsoleFrontEnd::~ConsoleFrontEnd() { EndLine(); }

std::unique_ptr<ProgressView> ConsoleFrontEnd::OpenProgress(ProgressOperation) {
  return std::make_unique<ConsoleProgressView>(*this, m_showProgress, m_fileCount);
}

void ConsoleFrontEnd::ShowErrorMessage(const std::string& message, uint32_t code) {
  EndLine();
  WriteStandard(StandardStream::Error,
                "qv3: error: " + AppendSystemErrorText(message, code) + "\n");
  m_failureReported = true;
}

int ConsoleFrontEnd::ExitStatus() const {
  if (m_stopped) return 130;
  return m_failureReported ? 1 : 0;
}

void ConsoleFrontEnd::DrawLine(const std::string& text) {
  std::string out = "\r" + text;
  // Blanks over what is left of a longer previous line.
  if (m_drawnLength > text.size()) out.append(m_drawnLength - text.size(), ' ');
  WriteStandard(StandardStream::Error, out);
  m_drawnLength = text.size() > 0 ? text.size() : 1;
}

void ConsoleFrontEnd::EndLine() {
  if (m_drawnLength == 0) return;
  WriteStandard(StandardStream::Error, "\n");
  m_drawnLength = 0;
}
