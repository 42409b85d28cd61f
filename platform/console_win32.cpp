#include "platform/console.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/wide_win32.h"

namespace {

std::atomic<bool> g_interruptRequested{false};
// Set once the work has cleaned up; an ending session waits for it.
HANDLE g_workStopped = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      g_interruptRequested = true;
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The process ends when this returns: the work stops and cleans up first (the
      // system allows about five seconds).
      g_interruptRequested = true;
      if (g_workStopped) WaitForSingleObject(g_workStopped, 4500);
      return TRUE;
    default:
      return FALSE;
  }
}

// The console input whose echo is off while a password is read, and its mode before.
// Control events arrive on a thread of their own, so these are shared with it.
std::atomic<HANDLE> g_quietInput{INVALID_HANDLE_VALUE};
std::atomic<DWORD> g_savedMode{0};

// Called first for any control event during the read: echo comes back before the
// process ends (default handling) or the read is abandoned (an installed handler).
BOOL WINAPI RestoreEchoOnControl(DWORD) {
  const HANDLE input = g_quietInput.load();
  if (input != INVALID_HANDLE_VALUE) SetConsoleMode(input, g_savedMode.load());
  return FALSE;  // let the next handler decide what the event does
}

std::atomic<bool> g_utf8Redirected{false};

// Writes UTF-8 text to a console as the characters they are (any name shows as it is);
// false when output is no console.
bool WriteToConsole(HANDLE output, const std::string& text) {
  DWORD mode = 0;
  if (!GetConsoleMode(output, &mode)) return false;
  const std::wstring wide = Wide(text);
  DWORD written = 0;
  return wide.empty() || WriteConsoleW(output, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

// The bytes of UTF-8 text for a pipe or file: UTF-8 when asked for, else the ANSI code
// page, a character it cannot hold becoming '?' (never a look-alike).
std::string ForRedirectedOutput(const std::string& text) {
  if (g_utf8Redirected) return text;
  const std::wstring wide = Wide(text);
  if (wide.empty()) return std::string();
  const int length = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, nullptr, 0, "?", nullptr);
  if (n <= 0) return std::string();
  std::string bytes(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, &bytes[0], n, "?", nullptr);
  return bytes;
}

// The text with every line end written as "\r\n": a "\n" with or without carriage
// returns before it. A carriage return elsewhere (a progress line redrawn) stays.
std::string WithCrLf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16 + 2);
  size_t carriageReturns = 0;
  for (const char c : text) {
    if (c == '\r') {
      ++carriageReturns;
    } else if (c == '\n') {
      out += "\r\n";
      carriageReturns = 0;
    } else {
      out.append(carriageReturns, '\r');
      carriageReturns = 0;
      out += c;
    }
  }
  out.append(carriageReturns, '\r');
  return out;
}

}  // namespace

void WriteStandard(StandardStream stream, const std::string& text) {
  // In text mode the C library puts a carriage return before every "\n", also before
  // one that has it already; in binary mode the bytes written are the bytes that arrive.
  static const bool binary = [] {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    return true;
  }();
  static_cast<void>(binary);
  FILE* file = stream == StandardStream::Output ? stdout : stderr;
  const std::string out = WithCrLf(text);
  std::fflush(file);
  if (WriteToConsole(GetStdHandle(stream == StandardStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE), out))
    return;
  const std::string bytes = ForRedirectedOutput(out);
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fflush(file);
}

void UseUtf8WhenRedirected(bool utf8) { g_utf8Redirected = utf8; }

std::vector<std::string> ProgramArguments(int, char**) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 1; wide && i < count; ++i) arguments.push_back(Utf8(wide[i]));
  if (wide) LocalFree(wide);
  return arguments;
}

bool StderrIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE;
}

bool ReadPasswordFromTerminal(const char* prompt, std::string* password) {
  password->clear();
  // The console itself, even when standard input and output are redirected.
  const HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return false;
  const HANDLE output = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD saved = 0;
  if (output == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &saved)) {
    if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
    CloseHandle(input);
    return false;
  }

  g_savedMode = saved;
  g_quietInput = input;
  SetConsoleCtrlHandler(RestoreEchoOnControl, TRUE);
  const DWORD quiet = (saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT;
  bool ok = false;
  if (SetConsoleMode(input, quiet)) {
    WriteToConsole(output, prompt);
    // Read as the console holds it, in Unicode: its own code page may differ from the
    // ANSI code page in which the viewer's prompt, and so every container, takes the
    // password (every non-Korean Windows, or after chcp 65001).
    std::wstring typed;
    typed.reserve(256);  // fewer copies of the password left behind by growth
    for (;;) {
      wchar_t buffer[64];
      DWORD n = 0;
      // Nothing read: end of input, or Ctrl-C abandoned the read.
      if (!ReadConsoleW(input, buffer, 64, &n, nullptr) || n == 0) break;
      const wchar_t* end = std::wmemchr(buffer, L'\n', n);
      typed.append(buffer, end ? static_cast<size_t>(end - buffer) : n);
      SecureZeroMemory(buffer, sizeof buffer);
      if (end) {
        ok = true;
        break;
      }
    }
    SetConsoleMode(input, saved);
    WriteToConsole(output, "\r\n");
    if (ok && !typed.empty() && typed.back() == L'\r') typed.pop_back();
    if (ok) *password = Utf8(typed);
    if (!typed.empty()) SecureZeroMemory(&typed[0], typed.size() * sizeof(wchar_t));
  }
  SetConsoleCtrlHandler(RestoreEchoOnControl, FALSE);
  g_quietInput = INVALID_HANDLE_VALUE;
  CloseHandle(output);
  CloseHandle(input);

  if (!ok && !password->empty()) {
    SecureZeroMemory(&(*password)[0], password->size());
    password->clear();
  }
  return ok;
}

void InstallInterruptHandler() {
  if (!g_workStopped) g_workStopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool InterruptRequested() { return g_interruptRequested; }

int InterruptExitStatus() { return 130; }

void WorkStopped() {
  if (g_workStopped) SetEvent(g_workStopped);
}

void RaiseInterrupt() { OnConsoleControl(CTRL_C_EVENT); }
