#include "platform/console.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

std::atomic<bool> g_interruptRequested{false};

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    g_interruptRequested = true;
    return TRUE;
  }
  return FALSE;
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

void WriteText(HANDLE output, const char* text) {
  DWORD written = 0;
  const DWORD length = static_cast<DWORD>(std::strlen(text));
  if (!WriteConsoleA(output, text, length, &written, nullptr)) WriteFile(output, text, length, &written, nullptr);
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
  std::fwrite(out.data(), 1, out.size(), file);
  std::fflush(file);
}

bool StderrIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE;
}

bool ReadPasswordFromTerminal(const char* prompt, std::string* password) {
  password->clear();
  // The console itself, even when standard input and output are redirected.
  const HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return false;
  const HANDLE output = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
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
    WriteText(output, prompt);
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
    WriteText(output, "\r\n");
    if (ok && !typed.empty() && typed.back() == L'\r') typed.pop_back();
    if (ok && !typed.empty()) {
      // The prompt's rule: the ANSI code page with the system's default substitutions.
      const int length = static_cast<int>(typed.size());
      const int bytes = WideCharToMultiByte(CP_ACP, 0, typed.data(), length, nullptr, 0, nullptr, nullptr);
      password->resize(bytes > 0 ? static_cast<size_t>(bytes) : 0);
      if (bytes > 0)
        WideCharToMultiByte(CP_ACP, 0, typed.data(), length, &(*password)[0], bytes, nullptr, nullptr);
      ok = bytes > 0;
    }
    if (!typed.empty()) SecureZeroMemory(&typed[0], typed.size() * sizeof(wchar_t));
  }
  SetConsoleCtrlHandler(RestoreEchoOnControl, FALSE);
  g_quietInput = INVALID_HANDLE_VALUE;
  CloseHandle(output);
  CloseHandle(input);

  if (!ok) {
    SecureZeroMemory(&(*password)[0], password->size());
    password->clear();
  }
  return ok;
}

void InstallInterruptHandler() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

bool InterruptRequested() { return g_interruptRequested; }

void RaiseInterrupt() { OnConsoleControl(CTRL_C_EVENT); }
