// qv3: the command-line tool over the container engines.

#include <string>
#include <vector>

#include "cli/commands.h"
#include "crypto/dispatch.h"
#include "platform/catalog.h"
#include "platform/console.h"
#include "platform/text.h"
#include "qv3_version.h"

namespace {

// The overview, in Korean; its English is in po/en.po.
const char kUsage[] = N_(
    "사용법: qv3 명령 [옵션] 파일...\n"
    "\n"
    "명령:\n"
    "  decrypt [옵션] 암호파일...   암호 파일을 읽기 전용 평문으로 풉니다\n"
    "  encrypt [옵션] 파일...       파일마다 옆에 암호 파일을 만듭니다\n"
    "  inspect [--json] 암호파일... 암호 파일의 버전, 확장, 길이를 보입니다\n"
    "\n"
    "  qv3 명령 --help       명령 하나의 도움말\n"
    "  qv3 --version         버전과 쓰고 있는 암호 구현\n"
    "\n"
    "  --utf8                (모든 명령, Windows) 파이프나 파일에 ANSI 코드 페이지 대신\n"
    "                        UTF-8 로 씁니다. 콘솔에는 모든 이름을 그대로 보입니다\n");

}  // namespace

void PrintError(const std::string& text) {
  WriteStandard(StandardStream::Error, "qv3: error: " + EscapeControls(text, true) + "\n");
}

std::string UsageText(const std::string& command, const std::string& text) {
  return Format(Tr("%s: %s (qv3 %s --help 를 보십시오)"), command.c_str(), text.c_str(), command.c_str());
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
    WriteStandard(StandardStream::Error, Tr(kUsage));
    return 2;
  }
  const std::string command = args.front();
  args.erase(args.begin());
  if (command == "--help" || command == "-h" || command == "help") {
    WriteStandard(StandardStream::Output, Tr(kUsage));
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
  PrintError(Format(Tr("알 수 없는 명령 '%s' (qv3 --help 를 보십시오)"), command.c_str()));
  return 2;
}
