// qv3: the command-line tool over the container engines.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "crypto/dispatch.h"

namespace {

const char kUsage[] =
    "usage: qv3 COMMAND [OPTIONS] FILE...\n"
    "\n"
    "Commands:\n"
    "  decrypt [OPTIONS] CONTAINER...  decrypt containers into read-only plaintexts\n"
    "  encrypt [OPTIONS] FILE...       encrypt files into containers beside them\n"
    "  inspect [--json] CONTAINER...   show a container's version, extensions and lengths\n"
    "\n"
    "  qv3 COMMAND --help    help for one command\n"
    "  qv3 --version         version and the crypto implementations in use\n";

}  // namespace

void PrintError(const std::string& text) { std::fprintf(stderr, "qv3: error: %s\n", text.c_str()); }

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string command = args.front();
  args.erase(args.begin());
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "--version") {
    std::printf("qv3 1.0 (aes: %s, sha-256: %s)\n", ActiveAes().name, ActiveSha256().name);
    return 0;
  }
  if (command == "decrypt") return RunDecrypt(args);
  if (command == "encrypt") return RunEncrypt(args);
  if (command == "inspect") return RunInspect(args);
  PrintError("unknown command '" + command + "' (see qv3 --help)");
  return 2;
}
