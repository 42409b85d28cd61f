// qv3_fake_viewer: a stand-in for the program the desktop associates with a document
// type. The GUI tests register it for a test extension, so the viewer hands it the
// plaintext it has decrypted. It records what it found and holds the file the way a
// real document program would.
//
//   qv3_fake_viewer PATH                     record PATH, hold it open for a while, exit
//   qv3_fake_viewer --hand-over PATH         start a second instance that records and
//                                            holds PATH, and exit as soon as it holds it
//                                            (a program that passes the document to a
//                                            running instance)
//
// Every line (UTF-8: the path as the program received it, any name) goes to the log file
// named by QV3_FAKE_VIEWER_LOG (else qv3_fake_viewer.log
// beside the program) as "PID TEXT"; each instance's lines start with "begin role=..."
// and finish with "end". The log is appended to line by line, so a test may read it
// while the programs run. QV3_FAKE_VIEWER_HOLD_MS sets how long the file is held open
// without write sharing (default 1500); QV3_FAKE_VIEWER_STAY_MS how long the program
// keeps running after it has closed the file (default 0), as a program that reads a
// document, closes it and shows it on. QV3_FAKE_VIEWER_EDIT=1 saves "edited by the fake
// viewer" over the file in place after reading it (logged "edited").
//
// Recorded: the path; its attributes (GetFileAttributesW, hex); whether opening it for
// writing fails and the error; its size and an FNV-1a 64 hash of its content; "holding"
// once the file is held and "released" when the handle is closed.

#include <windows.h>
#include <shellapi.h>

#include <stdio.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/wide_win32.h"

namespace {

std::wstring LogPath() {
  wchar_t path[MAX_PATH] = {};
  DWORD n = GetEnvironmentVariableW(L"QV3_FAKE_VIEWER_LOG", path, MAX_PATH);
  if (n > 0 && n < MAX_PATH) return path;
  n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring own(path, n);
  size_t slash = own.find_last_of(L'\\');
  return own.substr(0, slash == std::wstring::npos ? 0 : slash + 1) + L"qv3_fake_viewer.log";
}

DWORD Milliseconds(const wchar_t* variable, DWORD otherwise) {
  wchar_t text[32] = {};
  DWORD n = GetEnvironmentVariableW(variable, text, 32);
  return n > 0 && n < 32 ? static_cast<DWORD>(std::wcstoul(text, nullptr, 10)) : otherwise;
}

void Log(const std::string& line) {
  // Opened per line, shared, so that two instances may log side by side.
  for (int attempt = 0; attempt < 50; ++attempt) {
    HANDLE log = CreateFileW(LogPath().c_str(), FILE_APPEND_DATA,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log != INVALID_HANDLE_VALUE) {
      std::string text = std::to_string(GetCurrentProcessId()) + " " + line + "\n";
      DWORD written = 0;
      WriteFile(log, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
      CloseHandle(log);
      return;
    }
    Sleep(20);
  }
}

std::string Hex(unsigned long long value, int digits) {
  char text[24];
  snprintf(text, sizeof text, "%0*llx", digits, value);
  return text;
}

// Records the file as found, then holds it open for reading without write sharing.
// readyEvent, when given, names an event to set once the file is held.
int Hold(const std::string& path, const char* role, const std::string* readyEvent) {
  Log(std::string("begin role=") + role);
  Log("path=" + path);
  const std::wstring name = Wide(path);
  DWORD attributes = GetFileAttributesW(name.c_str());
  Log("attributes=" + (attributes == INVALID_FILE_ATTRIBUTES
                           ? "missing " + std::to_string(GetLastError())
                           : Hex(attributes, 8)));

  HANDLE writer = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (writer == INVALID_HANDLE_VALUE) {
    Log("write_open=failed " + std::to_string(GetLastError()));
  } else {
    Log("write_open=succeeded");
    CloseHandle(writer);
  }

  HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    Log("read_open=failed " + std::to_string(GetLastError()));
    Log("end");
    return 1;
  }
  std::uint64_t hash = 14695981039346656037ull, size = 0;
  static char buffer[1 << 16];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    for (DWORD i = 0; i < got; ++i) {
      hash = (hash ^ static_cast<unsigned char>(buffer[i])) * 1099511628211ull;
    }
    size += got;
  }
  Log("size=" + std::to_string(size));
  Log("fnv1a64=" + Hex(hash, 16));
  if (Milliseconds(L"QV3_FAKE_VIEWER_EDIT", 0) != 0) {
    // Saved over in place, as an editor's "write anyway" does.
    CloseHandle(file);
    SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE edit = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    DWORD written = 0;
    const char kEdited[] = "edited by the fake viewer\r\n";
    const bool ok = edit != INVALID_HANDLE_VALUE && WriteFile(edit, kEdited, sizeof kEdited - 1, &written, nullptr);
    if (edit != INVALID_HANDLE_VALUE) CloseHandle(edit);
    Log(ok ? "edited" : "edit=failed " + std::to_string(GetLastError()));
    file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
  }
  Log("holding");
  if (readyEvent) {
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, Wide(*readyEvent).c_str());
    if (ready) {
      SetEvent(ready);
      CloseHandle(ready);
    }
  }
  Sleep(Milliseconds(L"QV3_FAKE_VIEWER_HOLD_MS", 1500));
  CloseHandle(file);
  Log("released");
  if (const DWORD stay = Milliseconds(L"QV3_FAKE_VIEWER_STAY_MS", 0)) {
    Log("staying");
    Sleep(stay);
  }
  Log("end");
  return 0;
}

int HandOver(const std::string& path) {
  Log("begin role=launcher");
  std::string eventName = "qv3_fake_viewer_ready_" + std::to_string(GetCurrentProcessId());
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, Wide(eventName).c_str());
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" --ready-event " + Wide(eventName) + L" \"" + Wide(path) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                      nullptr, &startup, &process)) {
    Log("spawn=failed " + std::to_string(GetLastError()));
    Log("end");
    return 1;
  }
  // Exit only once the instance holds the file, as a real hand-over would.
  HANDLE waits[2] = {ready, process.hProcess};
  DWORD woken = WaitForMultipleObjects(2, waits, FALSE, 10000);
  Log(woken == WAIT_OBJECT_0 ? "handed=yes" : "handed=no");
  CloseHandle(ready);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  Log("spawned=" + std::to_string(process.dwProcessId));
  Log("end");
  return 0;
}

}  // namespace

int main() {
  // The wide command line: the path arrives as it is, whatever the code page holds.
  int argc = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> argv;
  for (int i = 0; wide && i < argc; ++i) argv.push_back(Utf8(wide[i]));
  if (wide) LocalFree(wide);
  if (argc == 2 && argv[1] != "--help") return Hold(argv[1], "holder", nullptr);
  if (argc == 3 && argv[1] == "--hand-over") return HandOver(argv[2]);
  if (argc == 4 && argv[1] == "--ready-event") return Hold(argv[3], "holder", &argv[2]);
  fputs("usage: qv3_fake_viewer [--hand-over] PATH\n", stderr);
  return argc == 2 ? 0 : 2;
}
