// libFuzzer target: the viewer's command-line splitting, the command line's tail, the
// choice of a container's extension and the working-folder path of a plaintext, on any
// bytes (the input up to its first NUL is the text).
//
// What must hold, beyond the sanitizers' checks:
// - SplitCommandLine gives at most (length + 2) / 2 arguments and a null after the last;
//   no argument holds a double quote, and the arguments' bytes, in order, are bytes of
//   the text in order; a text without double quotes splits exactly at TAB, LF, CR and
//   SPACE;
// - CommandLineTail points into the text, at its end or at a byte above 32;
// - ChooseEncryptedExtension gives one of the 14 extensions ("aqv3" when asked for the
//   generic one);
// - PlaintextPath in working-folder mode, when it succeeds, was given a container's name
//   and gives the working folder, a separator and that name less its extension, its
//   longest temporary name within the path limit.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "container/naming.h"
#include "platform/file_ops.h"
#include "platform/working_folder.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
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

void CheckExtension(const std::string& text) {
  static const char* const kExtensions[] = {"aqv3", "pqv3", "dqv3", "bqv3", "mqv3", "sqv3", "xqv3",
                                            "wqv3", "tqv3", "hqv3", "fqv3", "gqv3", "cqv3", "zqv3"};
  const char* chosen = ChooseEncryptedExtension(text.c_str(), false);
  bool known = false;
  for (const char* e : kExtensions) known = known || (chosen && std::strcmp(chosen, e) == 0);
  Check(known);
  Check(std::strcmp(ChooseEncryptedExtension(text.c_str(), true), "aqv3") == 0);
}

void CheckPlaintextPath(const std::string& text) {
  static const std::string folder = WorkingFolder();
  std::string path;
  if (PlaintextPath(text, true, folder, &path) != PlaintextNameProblem::None) return;
  Check(HasContainerExtension(text));
  Check(PathFits(PartialPath(path, kPartialAttempts)));
  const char* separator = std::strrchr(text.c_str(), kPathSeparator);
  Check(separator != nullptr);
  const std::string name = separator + 1;
  Check(name.size() > 5);
  Check(path == folder + kPathSeparator + name.substr(0, name.size() - 5));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
  CheckSplit(text);
  CheckTail(text);
  CheckExtension(text);
  CheckPlaintextPath(text);
  return 0;
}
