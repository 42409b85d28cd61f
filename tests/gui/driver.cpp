// qv3_gui_driver: drives the windows of another program the way a user would, for the
// GUI tests. It finds top-level dialogs by their caption, reads and sets control texts,
// presses buttons, types characters, sends keys and reads progress bars and file
// attributes.
//
// Commands come from the command line, separated by ";" arguments:
//   qv3_gui_driver wait CAPTION 5000 ; text CAPTION 65535
// or, with no arguments, one command per line on standard input, its fields separated by
// tabs. Each command prints one line on standard output, "ok" or "ok VALUE" or
// "error WHY", and the line is flushed at once, so a test can keep one driver running
// and talk to it. Texts (arguments on standard input and every printed value) are UTF-8,
// whatever the system's code page, with '\\', tab, CR and LF escaped as \\, \t, \r and
// \n; the windows are read and driven through the wide calls, so a Korean caption is
// found under an English system too.
// The exit status is 0 when every command succeeded, 1 otherwise, 2 for a usage error.
//
// Commands (CAPTION is a dialog's exact caption, "#ID" after it asking for a dialog that
// holds that control; ID a control identifier, decimal or
// 0x hex; "self" names the dialog itself; timeouts in milliseconds):
//   wait CAPTION [TIMEOUT]       until a visible dialog with that caption exists; prints
//                                its window handle
//   gone CAPTION [TIMEOUT]       until no visible dialog with that caption exists
//   exists CAPTION               prints 1 or 0 at once
//   count CAPTION                prints how many visible dialogs carry that caption
//   text CAPTION ID              prints the control's text (a message box's text is
//                                control 65535)
//   settext CAPTION ID TEXT      replaces the control's text
//   type CAPTION ID TEXT         posts one WM_CHAR per UTF-16 unit of TEXT to the control
//   endsession CAPTION           tells the dialog that the session ends (log-off)
//   key CAPTION ID VK            posts a key press (down and up) of virtual key VK to the
//                                control; the dialog manager sees it as typed
//   click CAPTION ID             presses the button (BM_CLICK) without waiting for what
//                                the press starts
//   command CAPTION ID           posts WM_COMMAND (ID, BN_CLICKED) to the dialog
//   pos CAPTION ID               prints a progress bar's position
//   range CAPTION ID             prints a progress bar's range as "LOW HIGH"
//   style CAPTION ID             prints the window style in hex
//   class CAPTION ID             prints the window class name
//   visible CAPTION ID           prints 1 or 0
//   focus CAPTION                prints the id of the control holding the keyboard focus
//                                in the dialog's thread (or "none")
//   rect CAPTION                 prints the dialog's screen rectangle "X Y WIDTH HEIGHT"
//   controls CAPTION             prints "ID CLASS STYLE TEXT" of every child, one per
//                                line after a count line
//   attrs PATH                   prints GetFileAttributesW's result in hex, or
//                                "missing ERROR"
//   folder CSIDL                 prints SHGetFolderPathW's result for that folder
//   hold PATH [none]             opens the file for reading, sharing reading only (with
//                                "none", sharing nothing: no one else can read it), and
//                                keeps it open (as a program showing it would) until
//                                release PATH or the driver's end
//   release PATH                 closes what hold opened
//   classes KEY [NAME]           prints "=" and a REG_SZ value under HKEY_CLASSES_ROOT
//                                (the key's default value without NAME), or "missing"
//                                when the key or value does not exist
//   classkey KEY                 prints 1 when HKEY_CLASSES_ROOT\KEY exists, 0 when not
//   indirect TEXT                prints what the shell shows for an indirect string
//                                ("@PROGRAM,-ID": that program's string resource in the
//                                user's language; SHLoadIndirectString)
//   kill CAPTION                 ends the process that shows the dialog (TerminateProcess),
//                                as a crash or the Task Manager would
//   sleep MS

#include <windows.h>
#include <shlwapi.h>

#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <shlobj.h>
#include <stdio.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "platform/wide_win32.h"

namespace {

struct Failure {
  std::string why;
};

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    switch (text[++i]) {
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case 'n': out += '\n'; break;
      default: out += text[i];
    }
  }
  return out;
}

long ParseNumber(const std::string& text, const char* what) {
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 0);
  if (text.empty() || *end != '\0') throw Failure{std::string("bad ") + what + ": " + text};
  return value;
}

std::string WindowText(HWND hwnd) {
  // WM_GETTEXT is marshalled between processes; GetWindowTextW of a control of
  // another process would not ask the control.
  wchar_t buffer[4096] = {};
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000,
                           &copied)) {
    throw Failure{"the window does not answer WM_GETTEXT"};
  }
  return Utf8(buffer, copied);
}

std::string ClassName(HWND hwnd) {
  wchar_t name[256] = {};
  GetClassNameW(hwnd, name, 256);
  return Utf8(name);
}

struct Search {
  const std::string* caption;
  std::vector<HWND> found;
};

// A caption may end in "#ID": then only a dialog holding a control of that ID matches
// (the English windows share one caption: the prompt holds 1003, a box 65535).
BOOL CALLBACK CollectDialog(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  if (!IsWindowVisible(hwnd) || ClassName(hwnd) != "#32770") return TRUE;
  wchar_t title[1024] = {};
  GetWindowTextW(hwnd, title, 1024);
  std::string caption = *search->caption;
  const size_t hash = caption.rfind('#');
  int control = 0;
  if (hash != std::string::npos && hash + 1 < caption.size() &&
      caption.find_first_not_of("0123456789", hash + 1) == std::string::npos) {
    control = std::atoi(caption.c_str() + hash + 1);
    caption.erase(hash);
  }
  if (caption == Utf8(title) && (!control || GetDlgItem(hwnd, control))) search->found.push_back(hwnd);
  return TRUE;
}

std::vector<HWND> VisibleDialogs(const std::string& caption) {
  Search search{&caption, {}};
  EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND FindDialog(const std::string& caption) {
  std::vector<HWND> found = VisibleDialogs(caption);
  if (found.empty()) throw Failure{"no visible dialog \"" + Escape(caption) + "\""};
  return found.front();
}

HWND WaitDialog(const std::string& caption, DWORD timeout) {
  DWORD start = GetTickCount();
  for (;;) {
    std::vector<HWND> found = VisibleDialogs(caption);
    if (!found.empty()) return found.front();
    if (GetTickCount() - start >= timeout) {
      throw Failure{"no visible dialog \"" + Escape(caption) + "\" within " +
                    std::to_string(timeout) + " ms"};
    }
    Sleep(50);
  }
}

HWND Control(const std::string& caption, const std::string& id) {
  HWND dialog = FindDialog(caption);
  if (id == "self") return dialog;
  HWND control = GetDlgItem(dialog, static_cast<int>(ParseNumber(id, "control id")));
  if (!control) throw Failure{"the dialog has no control " + id};
  return control;
}

std::string Hex(unsigned long value) {
  char text[16];
  snprintf(text, sizeof text, "0x%08lx", value);
  return text;
}

struct ChildList {
  std::string text;
  int count = 0;
};

BOOL CALLBACK DescribeChild(HWND hwnd, LPARAM param) {
  auto* list = reinterpret_cast<ChildList*>(param);
  list->text += "\n" + std::to_string(GetDlgCtrlID(hwnd)) + " " + ClassName(hwnd) + " " +
                Hex(static_cast<unsigned long>(GetWindowLongW(hwnd, GWL_STYLE))) + " " +
                WindowText(hwnd);
  ++list->count;
  return TRUE;
}

void PostKey(HWND target, UINT vk) {
  UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
  PostMessageW(target, WM_KEYDOWN, vk, 1 | (static_cast<LPARAM>(scan) << 16));
  PostMessageW(target, WM_KEYUP, vk, 1 | (static_cast<LPARAM>(scan) << 16) | (3u << 30));
}

// Files kept open by hold, by path.
std::map<std::string, HANDLE> g_held;

// Runs one command; returns the value to print after "ok" (may be empty).
std::string Run(const std::vector<std::string>& args) {
  auto need = [&](size_t min, size_t max) {
    if (args.size() < min || args.size() > max) {
      throw Failure{"wrong number of arguments for " + args[0]};
    }
  };
  auto timeout = [&](size_t index) {
    return args.size() > index ? static_cast<DWORD>(ParseNumber(args[index], "timeout")) : 10000u;
  };
  const std::string& name = args[0];

  if (name == "wait") {
    need(2, 3);
    return Hex(static_cast<unsigned long>(reinterpret_cast<uintptr_t>(WaitDialog(args[1], timeout(2)))));
  }
  if (name == "gone") {
    need(2, 3);
    DWORD start = GetTickCount(), limit = timeout(2);
    while (!VisibleDialogs(args[1]).empty()) {
      if (GetTickCount() - start >= limit) {
        throw Failure{"dialog \"" + Escape(args[1]) + "\" still visible after " +
                      std::to_string(limit) + " ms"};
      }
      Sleep(50);
    }
    return "";
  }
  if (name == "exists") {
    need(2, 2);
    return VisibleDialogs(args[1]).empty() ? "0" : "1";
  }
  if (name == "count") {
    need(2, 2);
    return std::to_string(VisibleDialogs(args[1]).size());
  }
  if (name == "text") {
    need(3, 3);
    return Escape(WindowText(Control(args[1], args[2])));
  }
  if (name == "settext") {
    need(4, 4);
    const std::wstring text = Wide(args[3]);
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(Control(args[1], args[2]), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                             SMTO_ABORTIFHUNG, 5000, &result)) {
      throw Failure{"the window does not answer WM_SETTEXT"};
    }
    return "";
  }
  if (name == "type") {
    need(4, 4);
    HWND control = Control(args[1], args[2]);
    for (wchar_t c : Wide(args[3])) PostMessageW(control, WM_CHAR, c, 1);
    return "";
  }
  if (name == "key") {
    need(4, 4);
    PostKey(Control(args[1], args[2]), static_cast<UINT>(ParseNumber(args[3], "key")));
    return "";
  }
  if (name == "click") {
    need(3, 3);
    // Posted: a press may start a modal loop (a message box) in the other program, and
    // the driver must stay free to look at it.
    HWND button = Control(args[1], args[2]);
    if (!PostMessageW(button, BM_CLICK, 0, 0)) throw Failure{"cannot post BM_CLICK"};
    return "";
  }
  if (name == "endsession") {
    need(2, 2);
    // As the system tells a program's windows that the session ends (log-off, shut-down).
    HWND dialog = FindDialog(args[1]);
    SendMessageTimeoutW(dialog, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, nullptr);
    SendMessageTimeoutW(dialog, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, nullptr);
    return "";
  }
  if (name == "command") {
    need(3, 3);
    HWND dialog = FindDialog(args[1]);
    int id = static_cast<int>(ParseNumber(args[2], "control id"));
    if (!PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                      reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)))) {
      throw Failure{"cannot post WM_COMMAND"};
    }
    return "";
  }
  if (name == "pos" || name == "range") {
    need(3, 3);
    HWND bar = Control(args[1], args[2]);
    if (ClassName(bar) != "msctls_progress32") throw Failure{"not a progress bar: " + ClassName(bar)};
    if (name == "pos") return std::to_string(SendMessageW(bar, PBM_GETPOS, 0, 0));
    return std::to_string(SendMessageW(bar, PBM_GETRANGE, TRUE, 0)) + " " +
           std::to_string(SendMessageW(bar, PBM_GETRANGE, FALSE, 0));
  }
  if (name == "style") {
    need(3, 3);
    return Hex(static_cast<unsigned long>(GetWindowLongW(Control(args[1], args[2]), GWL_STYLE)));
  }
  if (name == "class") {
    need(3, 3);
    return ClassName(Control(args[1], args[2]));
  }
  if (name == "visible") {
    need(3, 3);
    return IsWindowVisible(Control(args[1], args[2])) ? "1" : "0";
  }
  if (name == "focus") {
    need(2, 2);
    HWND dialog = FindDialog(args[1]);
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) || !info.hwndFocus) {
      return "none";
    }
    return std::to_string(GetDlgCtrlID(info.hwndFocus));
  }
  if (name == "rect") {
    need(2, 2);
    RECT r{};
    GetWindowRect(FindDialog(args[1]), &r);
    return std::to_string(r.left) + " " + std::to_string(r.top) + " " +
           std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top);
  }
  if (name == "controls") {
    need(2, 2);
    ChildList list;
    EnumChildWindows(FindDialog(args[1]), DescribeChild, reinterpret_cast<LPARAM>(&list));
    return Escape(std::to_string(list.count) + list.text);
  }
  if (name == "attrs") {
    need(2, 2);
    DWORD attributes = GetFileAttributesW(Wide(args[1]).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return "missing " + std::to_string(GetLastError());
    return Hex(attributes);
  }
  if (name == "folder") {
    need(2, 2);
    wchar_t path[MAX_PATH + 1] = {};
    HRESULT hr = SHGetFolderPathW(nullptr, static_cast<int>(ParseNumber(args[1], "folder")), nullptr,
                                  SHGFP_TYPE_CURRENT, path);
    if (FAILED(hr)) throw Failure{"SHGetFolderPathW failed: " + Hex(static_cast<unsigned long>(hr))};
    return Escape(Utf8(path));
  }
  if (name == "hold") {
    need(2, 3);
    if (g_held.count(args[1])) throw Failure{"already held"};
    if (args.size() == 3 && args[2] != "none") throw Failure{"the sharing is \"none\" or not given"};
    const DWORD share = args.size() == 3 ? 0 : FILE_SHARE_READ;
    HANDLE file = CreateFileW(Wide(args[1]).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw Failure{"cannot open: error " + std::to_string(GetLastError())};
    g_held[args[1]] = file;
    return "";
  }
  if (name == "release") {
    need(2, 2);
    auto held = g_held.find(args[1]);
    if (held == g_held.end()) throw Failure{"not held"};
    CloseHandle(held->second);
    g_held.erase(held);
    return "";
  }
  if (name == "classes") {
    need(2, 3);
    const std::wstring key = Wide(args[1]), value = args.size() == 3 ? Wide(args[2]) : std::wstring();
    const wchar_t* value_name = args.size() == 3 ? value.c_str() : nullptr;
    DWORD size = 0;
    LSTATUS status = RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), value_name, RRF_RT_REG_SZ, nullptr,
                                  nullptr, &size);
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    if (status == ERROR_SUCCESS) {
      size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
      status = RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), value_name, RRF_RT_REG_SZ, nullptr,
                            &data[0], &size);
    }
    if (status == ERROR_FILE_NOT_FOUND) return "missing";
    if (status != ERROR_SUCCESS) throw Failure{"RegGetValueW failed: error " + std::to_string(status)};
    data.resize(wcslen(data.c_str()));
    return "=" + Escape(Utf8(data));
  }
  if (name == "classkey") {
    need(2, 2);
    HKEY key = nullptr;
    const LSTATUS status = RegOpenKeyExW(HKEY_CLASSES_ROOT, Wide(args[1]).c_str(), 0, KEY_READ, &key);
    if (status == ERROR_FILE_NOT_FOUND) return "0";
    if (status != ERROR_SUCCESS) throw Failure{"RegOpenKeyExW failed: error " + std::to_string(status)};
    RegCloseKey(key);
    return "1";
  }
  if (name == "indirect") {
    need(2, 2);
    wchar_t text[1024] = {};
    const HRESULT hr = SHLoadIndirectString(Wide(args[1]).c_str(), text, 1024, nullptr);
    if (FAILED(hr)) throw Failure{"SHLoadIndirectString failed: " + Hex(static_cast<unsigned long>(hr))};
    return Escape(Utf8(text));
  }
  if (name == "kill") {
    need(2, 2);
    DWORD process = 0;
    GetWindowThreadProcessId(FindDialog(args[1]), &process);
    HANDLE handle = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, process);
    if (!handle) throw Failure{"cannot open the process: error " + std::to_string(GetLastError())};
    const bool ended = TerminateProcess(handle, 99) && WaitForSingleObject(handle, 10000) == WAIT_OBJECT_0;
    CloseHandle(handle);
    if (!ended) throw Failure{"the process did not end"};
    return "";
  }
  if (name == "sleep") {
    need(2, 2);
    Sleep(static_cast<DWORD>(ParseNumber(args[1], "duration")));
    return "";
  }
  throw Failure{"unknown command " + name};
}

bool RunAndPrint(const std::vector<std::string>& args) {
  std::string line;
  bool ok = true;
  try {
    std::string value = Run(args);
    line = value.empty() ? "ok" : "ok " + value;
  } catch (const Failure& failure) {
    line = "error " + failure.why;
    ok = false;
  }
  line += "\n";
  fwrite(line.data(), 1, line.size(), stdout);
  fflush(stdout);
  return ok;
}

std::vector<std::string> SplitLine(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t tab = line.find('\t', start);
    fields.push_back(Unescape(line.substr(start, tab - start)));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

}  // namespace

int main() {
  // Values are bytes; no "\n" may become "\r\n".
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stdin), _O_BINARY);
  bool ok = true;

  // The arguments as UTF-8, from the wide command line.
  int argc = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> argv;
  for (int i = 0; wide && i < argc; ++i) argv.push_back(Utf8(wide[i]));
  if (wide) LocalFree(wide);
  argc = static_cast<int>(argv.size());

  if (argc > 1) {
    if (argv[1] == "--help" || argv[1] == "-h") {
      puts("usage: qv3_gui_driver COMMAND ARGS... [; COMMAND ARGS...]\n"
           "       qv3_gui_driver < commands (one per line, fields separated by tabs)\n"
           "Commands: wait gone exists count text settext type key click command pos range\n"
           "style class visible focus rect controls attrs folder hold release kill sleep (see driver.cpp).");
      return 0;
    }
    std::vector<std::string> command;
    for (int i = 1; i <= argc; ++i) {
      if (i == argc || argv[i] == ";") {
        if (command.empty()) {
          fputs("qv3_gui_driver: empty command\n", stderr);
          return 2;
        }
        ok = RunAndPrint(command) && ok;
        command.clear();
      } else {
        command.push_back(argv[i]);
      }
    }
    return ok ? 0 : 1;
  }

  std::string line;
  int c;
  while ((c = fgetc(stdin)) != EOF) {
    if (c != '\n') {
      line += static_cast<char>(c);
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) ok = RunAndPrint(SplitLine(line)) && ok;
    line.clear();
  }
  if (!line.empty()) ok = RunAndPrint(SplitLine(line)) && ok;
  return ok ? 0 : 1;
}
