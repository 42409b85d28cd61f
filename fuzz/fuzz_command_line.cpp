// libFuzzer target: the viewer's own reading of its command line (app/command_line.h),
// the text Windows hands it from a double-click, a verb or a user's shortcut, on any
// bytes (the input up to its first NUL is the text).
//
// What must hold, beyond the sanitizers' checks:
// - SplitCommandLine gives at most (length + 2) / 2 arguments and a null after the last;
//   no argument holds a double quote, and the arguments' bytes, in order, are bytes of
//   the text in order; a text without double quotes splits exactly at TAB, LF, CR and
//   SPACE;
// - CommandLineTail points into the text, at its end or at a byte above 32;
// - a line written as the verbs and the association write it (each argument in double
//   quotes, one space between) gives back exactly those arguments, whatever they hold
//   but a double quote (the text's lines are the arguments), and its tail starts at the
//   second argument.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::vector<std::string> Split(const std::string& text) {
  int count = -1;
  char** args = SplitCommandLine(text.c_str(), &count);
  Check(args != nullptr);
  std::vector<std::string> got(args, args + count);
  FreeArgumentBlock(args);
  return got;
}

bool IsSeparator(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

void CheckSplit(const std::string& text) {
  int count = -1;
  char** args = SplitCommandLine(text.c_str(), &count);
  Check(args != nullptr);
  Check(count >= 0 && static_cast<size_t>(count) <= (text.size() + 2) / 2);
  Check(args[count] == nullptr);

  size_t from = 0;  // every argument's bytes are found in order in the text
  std::vector<std::string> got;
  for (int i = 0; i < count; ++i) {
    const std::string arg = args[i];
    Check(arg.find('"') == std::string::npos);
    for (char c : arg) {
      from = text.find(c, from);
      Check(from != std::string::npos);
      ++from;
    }
    got.push_back(arg);
  }
  FreeArgumentBlock(args);

  if (text.find('"') == std::string::npos) {
    std::vector<std::string> expected;
    std::string current;
    for (char c : text) {
      if (!IsSeparator(c)) {
        current += c;
      } else if (!current.empty()) {
        expected.push_back(current);
        current.clear();
      }
    }
    if (!current.empty()) expected.push_back(current);
    Check(got == expected);
  }
}

void CheckTail(const std::string& text) {
  const char* tail = CommandLineTail(text.c_str());
  Check(tail >= text.c_str() && tail <= text.c_str() + text.size());
  Check(*tail == '\0' || static_cast<unsigned char>(*tail) > 32);
}

void CheckQuotedLine(const std::string& text) {
  std::vector<std::string> arguments;
  std::string line;
  size_t at = 0;
  while (at <= text.size()) {
    const size_t newline = std::min(text.find('\n', at), text.size());
    std::string argument;
    for (char c : text.substr(at, newline - at))
      if (c != '"') argument += c;
    at = newline + 1;
    line += (arguments.empty() ? "\"" : " \"") + argument + "\"";
    arguments.push_back(argument);
  }
  Check(Split(line) == arguments);
  if (arguments.size() > 1) Check(CommandLineTail(line.c_str()) == line.c_str() + arguments[0].size() + 3);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
  CheckSplit(text);
  CheckTail(text);
  CheckQuotedLine(text);
  return 0;
}
