#include "platform/console.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cerrno>

namespace {

// Set by the handler on whichever thread the signal reaches, read by every thread that
// works: an atomic, lock-free so that a handler may set it.
std::atomic<bool> g_interruptRequested{false};
std::atomic<int> g_interruptSignal{0};  // the first one
static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler sets it");
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler sets it");

void OnInterrupt(int signal) {
  const int saved = errno;  // the interrupted code may be about to read it
  int none = 0;
  g_interruptSignal.compare_exchange_strong(none, signal);
  g_interruptRequested = true;
  errno = saved;
}

// Signals that could end or stop the process while the terminal does not echo. Each is
// caught for the length of the read, so that echo is restored before it takes effect.
const int kGuardedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM, SIGTSTP, SIGTTIN, SIGTTOU};
constexpr size_t kGuardedCount = sizeof kGuardedSignals / sizeof kGuardedSignals[0];

volatile sig_atomic_t g_caught[kGuardedCount];
volatile sig_atomic_t g_anyCaught = 0;

void OnGuardedSignal(int signal) {
  for (size_t i = 0; i < kGuardedCount; ++i) {
    if (kGuardedSignals[i] == signal) g_caught[i] = 1;
  }
  g_anyCaught = 1;
}

bool WriteAll(int fd, const char* text, size_t length) {
  while (length > 0) {
    const ssize_t n = write(fd, text, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

enum class ReadResult { Line, Failed, Signalled };

// One prompt and one line with echo off. The terminal's settings and the signal
// dispositions are as before when this returns.
ReadResult ReadOnce(int tty, const char* prompt, std::string* line) {
  line->clear();
  struct sigaction previous[kGuardedCount];
  g_anyCaught = 0;
  for (size_t i = 0; i < kGuardedCount; ++i) {
    g_caught[i] = 0;
    struct sigaction action {};
    action.sa_handler = OnGuardedSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the read must return when a signal arrives
    sigaction(kGuardedSignals[i], &action, &previous[i]);
    // A signal the process ignores stays ignored.
    if (previous[i].sa_handler == SIG_IGN) sigaction(kGuardedSignals[i], &previous[i], nullptr);
  }

  ReadResult result = ReadResult::Failed;
  termios saved {};
  if (tcgetattr(tty, &saved) == 0) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
    quiet.c_lflag |= ICANON;
    // TCSAFLUSH drops what was typed before the prompt was shown.
    if (tcsetattr(tty, TCSAFLUSH, &quiet) == 0) {
      if (WriteAll(tty, prompt, std::strlen(prompt))) {
        for (;;) {
          if (g_anyCaught) {
            result = ReadResult::Signalled;
            break;
          }
          char c;
          const ssize_t n = read(tty, &c, 1);
          if (n < 0 && errno == EINTR) continue;
          if (n <= 0) break;  // error, or end of input before a line end
          if (c == '\n') {
            if (!line->empty() && line->back() == '\r') line->pop_back();
            result = ReadResult::Line;
            break;
          }
          line->push_back(c);
        }
      }
      tcsetattr(tty, TCSAFLUSH, &saved);
      // The user's Enter was not echoed; end the prompt's line.
      WriteAll(tty, "\n", 1);
    }
  }

  for (size_t i = 0; i < kGuardedCount; ++i) sigaction(kGuardedSignals[i], &previous[i], nullptr);
  if (g_anyCaught) {
    result = ReadResult::Signalled;
    // Each signal now takes the effect it would have had: end the process, stop it, or
    // run the handler the process installed (InstallInterruptHandler's, say).
    for (size_t i = 0; i < kGuardedCount; ++i) {
      if (g_caught[i]) raise(kGuardedSignals[i]);
    }
  }
  if (result != ReadResult::Line) {
    volatile char* p = &(*line)[0];
    for (size_t i = 0; i < line->size(); ++i) p[i] = 0;
    line->clear();
  }
  return result;
}

bool IsStopSignalOnly() {
  for (size_t i = 0; i < kGuardedCount; ++i) {
    const int s = kGuardedSignals[i];
    if (g_caught[i] && s != SIGTSTP && s != SIGTTIN && s != SIGTTOU) return false;
  }
  return true;
}

}  // namespace

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void WriteStandard(StandardStream stream, const std::string& text) {
  FILE* file = stream == StandardStream::Output ? stdout : stderr;
  // Texts made for the Windows boxes break their lines with "\r\n": here every line
  // break is "\n" alone. A lone "\r" (a progress line drawn over itself) stays.
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
  std::fwrite(out.data(), 1, out.size(), file);
  std::fflush(file);
}

void UseUtf8WhenRedirected(bool) {}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

bool ReadPasswordFromTerminal(const char* prompt, std::string* password) {
  password->clear();
  const int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (tty < 0) return false;
  password->reserve(256);  // fewer copies of the password left behind by growth
  ReadResult result;
  // Stopped by job control and continued: ask again, as the typed text may be lost.
  while ((result = ReadOnce(tty, prompt, password)) == ReadResult::Signalled && IsStopSignalOnly()) {
  }
  close(tty);
  return result == ReadResult::Line;
}

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGINT, SIGHUP, SIGQUIT, SIGTERM}) sigaction(signal, &action, nullptr);
}

bool InterruptRequested() { return g_interruptRequested; }

int InterruptExitStatus() {
  const int signal = g_interruptSignal;
  return 128 + (signal ? signal : SIGINT);
}

void WorkStopped() {}

// Delivered to the calling thread: the handler has run when raise returns.
void RaiseInterrupt() { raise(SIGINT); }
