// libFuzzer target: desktop entries as the Linux viewer reads them, their Exec lines
// split and their field codes expanded for a file (association/xdg_applications.h).
//
// The input's parts, cut at zero bytes: a desktop file's text, a file name, then the
// arguments of a line to write (the input's length picks its field code). What must hold, beyond the sanitizers' checks:
// - any text: the entry is read or refused; its Exec line gives the same number of
//   arguments for any file (a file name, whatever it holds, never splits or joins an
//   argument), and a line without field codes ends with the file as its last argument;
// - a written line: ExecArgument of each argument, then " %f" (or %F, %u, %U), read back
//   from a desktop file's text gives exactly those arguments and the file (its URL for
//   %u and %U): what registration writes is what a desktop runs.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "association/xdg_applications.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckAnyEntry(const std::string& text, const std::string& file) {
  DesktopEntry entry;
  if (!ParseDesktopEntry(text, "/usr/share/applications/fuzz.desktop", &entry)) return;
  std::vector<std::string> forFile, forOther;
  const bool split = LaunchCommand(entry, file, &forFile);
  Check(split == LaunchCommand(entry, "/tmp/other name", &forOther));
  if (!split) return;
  Check(forFile.size() == forOther.size() && !forFile.empty());
  if (entry.exec.find('%') == std::string::npos) Check(forFile.back() == file);
}

void CheckWrittenLine(const std::vector<std::string>& arguments, const std::string& file, int code) {
  static const char* const kCodes[] = {" %f", " %F", " %u", " %U"};
  std::string line;
  for (const std::string& argument : arguments) line += (line.empty() ? "" : " ") + ExecArgument(argument);
  line += kCodes[code];
  DesktopEntry entry;
  Check(ParseDesktopEntry("[Desktop Entry]\nType=Application\nExec=" + line + "\nName=x\n", "/x.desktop", &entry));
  std::vector<std::string> argv;
  Check(LaunchCommand(entry, file, &argv));
  std::vector<std::string> expected = arguments;
  expected.push_back(code < 2 ? file : FileUrl(file));
  Check(argv == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  for (size_t at = 0; at <= bytes.size();) {
    const size_t end = std::min(bytes.find('\0', at), bytes.size());
    parts.push_back(bytes.substr(at, end - at));
    at = end + 1;
  }
  const std::string& text = parts[0];
  const std::string file = "/" + (parts.size() > 1 ? parts[1] : std::string("home/user/a file.txt"));
  std::vector<std::string> arguments(parts.begin() + std::min<size_t>(parts.size(), 2), parts.end());
  if (arguments.empty()) arguments.push_back("program");

  CheckAnyEntry(text, file);
  CheckAnyEntry("[Desktop Entry]\nExec=" + text, file);
  CheckWrittenLine(arguments, file, static_cast<int>(size % 4));
  return 0;
}
