// qv3: the command-line tool over the container engines.

#include <string>
#include <vector>

#include "cli/commands.h"
#include "crypto/dispatch.h"
#include "platform/console.h"
#include "qv3_version.h"

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
    "  qv3 --version         version and the crypto implementations in use\n"
    "\n"
    "  --utf8                (any command, Windows) write to a pipe or file in UTF-8 rather\n"
    "                        than the ANSI code page; a console shows every name as it is\n";

}  // namespace

void PrintError(const std::string& text) {
  WriteStandard(StandardStream::Error, "qv3: error: " + text + "\n");
}

int main(int argc, char** argv) {
  std::vector<std::string> args = ProgramArguments(argc, argv);
  // --utf8 may stand anywhere among the options (before a "--").
  for (size_t i = 0; i < args.size() && args[i] != "--";) {
    if (args[i] == "--utf8") {
      UseUtf8WhenRedirected(true);
      args.erase(args.begin() + static_cast<long>(i));
    } else {
      ++i;
    }
  }
  if (args.empty()) {
    WriteStandard(StandardStream::Error, kUsage);
    return 2;
  }
  const std::string command = args.front();
  args.erase(args.begin());
  if (command == "--help" || command == "-h" || command == "help") {
    WriteStandard(StandardStream::Output, kUsage);
    return 0;
  }
  if (command == "--version") {
    WriteStandard(StandardStream::Output, std::string("qv3 " QV3_VERSION_TEXT " (aes: ") +
                                              ActiveAes().name +
                                              ", sha-256: " + ActiveSha256().name + ")\n");
    return 0;
  }
  if (command == "decrypt") return RunDecrypt(args);
  if (command == "encrypt") return RunEncrypt(args);
  if (command == "inspect") return RunInspect(args);
  PrintError("unknown command '" + command + "' (see qv3 --help)");
  return 2;
}
