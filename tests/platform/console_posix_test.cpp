// The terminal password prompt and Ctrl-C, exercised in child processes that own a
// pseudo-terminal, so the test process's own terminal and signals stay untouched.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <functional>
#include <string>

#include "platform/console.h"

namespace {

// A child process whose controlling terminal is a fresh pseudo-terminal. The child runs
// body and sends what it returns back through a pipe.
class TerminalChild {
 public:
  explicit TerminalChild(const std::function<std::string()>& body) {
    int fds[2];
    if (pipe(fds) != 0) return;
    m_pid = forkpty(&m_master, nullptr, nullptr, nullptr);
    if (m_pid == 0) {
      close(fds[0]);
      const std::string report = body();
      if (write(fds[1], report.data(), report.size()) < 0) _exit(2);
      _exit(0);
    }
    close(fds[1]);
    m_report = fds[0];
  }
  ~TerminalChild() {
    if (m_pid > 0 && !m_reaped) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
    if (m_master >= 0) close(m_master);
    if (m_report >= 0) close(m_report);
  }

  bool Started() const { return m_pid > 0 && m_master >= 0; }
  pid_t Pid() const { return m_pid; }

  // Reads the terminal's output until it holds text (counted from the start of all
  // output seen) `times` times; false after ten seconds without it.
  bool WaitForOutput(const std::string& text, int times = 1) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Count(text) < times) {
      if (!ReadSome(deadline)) return false;
    }
    return true;
  }

  void Type(const std::string& keys) { ASSERT_EQ(write(m_master, keys.data(), keys.size()), ssize_t(keys.size())); }

  // The terminal's echo setting as the child left it.
  bool EchoOn() {
    termios t {};
    EXPECT_EQ(tcgetattr(m_master, &t), 0);
    return (t.c_lflag & ECHO) != 0;
  }

  // Waits for the child to end and collects the rest of its output and its report.
  int Finish(std::string* report) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = -1;
    while (!m_reaped) {
      if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_reaped = true;
        break;
      }
      if (std::chrono::steady_clock::now() > deadline) {
        // Still waiting for input that will never come: a failure, not a hang.
        ADD_FAILURE() << "the child did not end; output: " << m_output;
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &status, 0);
        m_reaped = true;
        break;
      }
      ReadSome(std::chrono::steady_clock::now() + std::chrono::milliseconds(50));
    }
    while (ReadSome(std::chrono::steady_clock::now() + std::chrono::milliseconds(50))) {
    }
    report->clear();
    char buffer[256];
    ssize_t n;
    while ((n = read(m_report, buffer, sizeof buffer)) > 0) report->append(buffer, size_t(n));
    return status;
  }

  const std::string& Output() const { return m_output; }

 private:
  int Count(const std::string& text) const {
    int count = 0;
    for (size_t at = m_output.find(text); at != std::string::npos; at = m_output.find(text, at + 1)) ++count;
    return count;
  }

  bool ReadSome(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{m_master, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[256];
    const ssize_t n = read(m_master, buffer, sizeof buffer);
    if (n <= 0) return false;  // EIO once the child has closed the terminal
    m_output.append(buffer, size_t(n));
    return true;
  }

  pid_t m_pid = -1;
  int m_master = -1;
  int m_report = -1;
  bool m_reaped = false;
  std::string m_output;
};

// What the child saw: the result, the password, the echo setting afterwards, the flag.
std::string ReadAndReport() {
  std::string password;
  const bool ok = ReadPasswordFromTerminal("Password: ", &password);
  termios t {};
  tcgetattr(STDIN_FILENO, &t);
  return std::string(ok ? "ok" : "failed") + " echo=" + ((t.c_lflag & ECHO) ? "on" : "off") +
         " interrupted=" + (InterruptRequested() ? "yes" : "no") + " [" + password + "]";
}

}  // namespace

TEST(Console, ReadsAPasswordWithoutEchoingIt) {
  TerminalChild child(ReadAndReport);
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.WaitForOutput("Password: ")) << child.Output();
  child.Type("s3cr\xEC\x95\x94 t\n");
  std::string report;
  const int status = child.Finish(&report);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(report, "ok echo=on interrupted=no [s3cr\xEC\x95\x94 t]") << "bytes kept as typed, line end dropped";
  EXPECT_EQ(child.Output().find("s3cr"), std::string::npos) << "echoed: " << child.Output();
  EXPECT_NE(child.Output().find("Password: \r\n"), std::string::npos) << "the prompt's line is ended";
}

TEST(Console, EndOfInputBeforeTheLineEndIsAFailure) {
  TerminalChild child(ReadAndReport);
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.WaitForOutput("Password: "));
  child.Type("abc");
  child.Type("\x04");  // Ctrl-D sends "abc" without a line end
  child.Type("\x04");  // then end of input
  std::string report;
  child.Finish(&report);
  EXPECT_EQ(report, "failed echo=on interrupted=no []");
}

TEST(Console, CtrlCDuringThePromptRestoresEchoBeforeTheProcessEnds) {
  TerminalChild child(ReadAndReport);
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.WaitForOutput("Password: "));
  child.Type("half");
  kill(child.Pid(), SIGINT);
  std::string report;
  const int status = child.Finish(&report);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << "the default action still ends it";
  EXPECT_EQ(report, "");
  EXPECT_TRUE(child.EchoOn()) << "the terminal was left without echo";
}

TEST(Console, CtrlCWithTheInterruptHandlerAbandonsThePrompt) {
  TerminalChild child([] {
    InstallInterruptHandler();
    return ReadAndReport();
  });
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.WaitForOutput("Password: "));
  child.Type("half");
  kill(child.Pid(), SIGINT);
  std::string report;
  const int status = child.Finish(&report);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(report, "failed echo=on interrupted=yes []");
}

TEST(Console, StoppingThePromptAsksAgainAfterwards) {
  // The child leads its own session, so the stop itself is discarded by the system;
  // what counts is that the prompt starts over with echo still off.
  TerminalChild child(ReadAndReport);
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.WaitForOutput("Password: "));
  kill(child.Pid(), SIGTSTP);
  ASSERT_TRUE(child.WaitForOutput("Password: ", 2)) << child.Output();
  child.Type("again\n");
  std::string report;
  child.Finish(&report);
  EXPECT_EQ(report, "ok echo=on interrupted=no [again]");
  EXPECT_EQ(child.Output().find("again"), std::string::npos);
}

TEST(Console, NoTerminalMeansNoPassword) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();  // a new session has no controlling terminal
    std::string password = "stale";
    const bool ok = ReadPasswordFromTerminal("Password: ", &password);
    const char result = (!ok && password.empty()) ? 'y' : 'n';
    _exit(write(fds[1], &result, 1) == 1 ? 0 : 2);
  }
  close(fds[1]);
  char result = '?';
  EXPECT_EQ(read(fds[0], &result, 1), 1);
  close(fds[0]);
  waitpid(pid, nullptr, 0);
  EXPECT_EQ(result, 'y');
}

TEST(Console, StderrIsTerminalTellsATerminalFromAPipe) {
  TerminalChild onTerminal([] { return std::string(StderrIsTerminal() ? "yes" : "no"); });
  ASSERT_TRUE(onTerminal.Started());
  std::string report;
  onTerminal.Finish(&report);
  EXPECT_EQ(report, "yes");

  TerminalChild redirected([] {
    int fds[2];
    if (pipe(fds) != 0 || dup2(fds[1], STDERR_FILENO) < 0) return std::string("setup failed");
    return std::string(StderrIsTerminal() ? "yes" : "no");
  });
  ASSERT_TRUE(redirected.Started());
  redirected.Finish(&report);
  EXPECT_EQ(report, "no");
}

TEST(Console, InterruptHandlerTurnsCtrlCIntoAFlag) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    std::string seen = InterruptRequested() ? "y" : "n";
    InstallInterruptHandler();
    seen += InterruptRequested() ? "y" : "n";
    raise(SIGINT);
    seen += InterruptRequested() ? "y" : "n";
    raise(SIGINT);  // a second Ctrl-C does not end the process either
    raise(SIGTERM);
    seen += InterruptRequested() ? "y" : "n";
    _exit(write(fds[1], seen.data(), seen.size()) == ssize_t(seen.size()) ? 0 : 2);
  }
  close(fds[1]);
  char seen[8] = {};
  EXPECT_EQ(read(fds[0], seen, sizeof seen), 4);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_STREQ(seen, "nnyy");
}

#endif
