// libFuzzer target: the choice of a container's extension and the working-folder path of
// a plaintext, on any bytes (the input up to its first NUL is the text). The viewer's
// command line has a target of its own (fuzz_command_line).
//
// What must hold, beyond the sanitizers' checks:
// - ChooseEncryptedExtension gives one of the 14 extensions ("aqv3" when asked for the
//   generic one);
// - PlaintextPath in working-folder mode, when it succeeds, was given a container's name
//   and gives the working folder, a separator and that name less its extension, its
//   longest temporary name within the path limit.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "container/naming.h"
#include "platform/file_ops.h"
#include "platform/working_folder.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
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
  CheckExtension(text);
  CheckPlaintextPath(text);
  return 0;
}
