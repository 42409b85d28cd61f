// qv3 decrypt and qv3 encrypt: every file given is its own call of the library (qv3.h),
// up to --jobs of them at once, with the console front end.

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "capi/internal.h"  // EncryptFile: qv3_encrypt_file with a kept random source
#include "cli/args.h"
#include "cli/commands.h"
#include "cli/console_front_end.h"
#include "cli/crypt_request.h"
#include "cli/password.h"
#include "container/failure.h"
#include "container/file_list.h"
#include "container/folder_files.h"
#include "container/folder_rule.h"
#include "container/naming.h"
#include "container/password_choice.h"
#include "container/password_rule.h"
#include "crypto/secure.h"
#include "jobs/batch.h"
#include "platform/catalog.h"
#include "platform/codepage.h"
#include "platform/console.h"
#include "platform/file_ops.h"
#include "platform/lock.h"
#include "platform/random.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "platform/working_folder.h"
#include "qv3.h"

namespace {

// The help texts are in Korean; their English is in po/en.po.
const char kPasswordHelp[] = N_(
    "암호 (모든 파일에 하나):\n"
    "  --password-file 파일      파일에서 읽습니다\n"
    "  --password-stdin          표준 입력에서 읽습니다\n"
    "  --password-encoding cp949 먼저 UTF-8 을 코드 페이지 949 로 바꿉니다(한국어 Windows\n"
    "                            가 쓰는 바이트). 이 옵션이 없으면 주어진 바이트를 그대로\n"
    "                            씁니다\n"
    "  --empty-password          빈 암호입니다: 아무에게도 묻지 않습니다. 파일이나 표준\n"
    "                            입력과 함께 주면 그곳의 빈 암호를 뜻한다는 것이고,\n"
    "                            그곳의 암호가 비어 있지 않으면 거절합니다. 없으면 빈\n"
    "                            암호는 읽지 못한 암호로 거절합니다\n"
    "  파일이나 표준 입력에서는 첫 줄 끝(CR 이나 LF) 또는 NUL 앞의 바이트가 암호입니다.\n"
    "  공백까지 그대로 두며, 최대 256 바이트입니다.\n");


std::string JobsHelp() {
  return Format(Tr(
                    "  --jobs N             한 번에 최대 N 개 파일을 처리합니다, 1 에서 %u 까지 (기본값:\n"
                    "                       이 프로세스가 쓸 수 있는 프로세서 수, 여기서는 %u). 메시지,\n"
                    "                       남는 파일과 종료 상태는 --jobs 1 과 같습니다\n"),
                kMaxJobs, std::min(UsableProcessors(), kMaxJobs));
}

const char kBatchHelp[] = N_(
    "한 파일의 실패는 다른 파일을 멈추지 않습니다: 그 파일은 출력을 남기지 않습니다.\n"
    "파일마다의 메시지는 파일을 준 순서대로 나옵니다. 한 폴더에서 이름이 같은 파일(두 번\n"
    "준 파일, 또는 다른 파일이 출력을 읽거나 쓰는 파일; 대소문자는 가리지 않음)은 그\n"
    "순서대로 하나씩 처리합니다.\n");

const char kFolderHelp[] = N_(
    "폴더 (-r): 폴더는 그 아래 어느 깊이의 파일이든 모두를 뜻하며, 파일마다 준 것처럼\n"
    "제자리에서 처리합니다. 폴더 자체는 복사하거나 옮기지 않습니다. 폴더마다 이름을 바이트\n"
    "순으로 정렬해 차례로, 하위 폴더는 그 이름의 자리에서 들어가며, 폴더마다 한 번만 읽고,\n"
    "찾는 대로 시작합니다. 따라가지도 열지도 않고 건너뛰는 것: 심볼릭 링크와 정션(link),\n"
    "장치 파일(device), 소켓(socket), FIFO(fifo), 다른 파일 시스템이나 마운트 지점의\n"
    "폴더(other-file-system), 출력의 임시 파일 이름.qv3part…(temporary), 그리고\n"
    "암호화에서는 이미 암호 파일인 파일(container: 14 가지 확장자), 복호화에서는 암호\n"
    "파일이 아닌 파일(not-container). 읽을 수 없는 폴더는 실패입니다. 진행 줄은 지금까지\n"
    "찾은 파일 가운데 끝난 파일을 세고, 끝에 한 줄이 끝난 파일, 실패한 파일, 건너뛴 것의\n"
    "수를 종류별로 말합니다. -r 없이 준 폴더는 거절합니다. -r 은 -o 나 --to-working-folder\n"
    "와 함께 줄 수 없습니다.\n");

const char kExitHelp[] = N_(
    "진행 상황은 표준 오류가 터미널일 때 그곳에 보이며, 오류도 그곳에 \"qv3: error: ...\"\n"
    "로 나옵니다. Ctrl-C 는 취소 단추처럼 작업을 멈춥니다: 처리 중인 파일은 모두 출력을\n"
    "남기지 않고, 아직 시작하지 않은 파일은 건드리지 않습니다. 터미널이 닫히거나 연결이\n"
    "끊긴 것(SIGHUP), SIGQUIT 와 SIGTERM 도 Ctrl-C 와 같습니다. 모든 파일이 끝난 뒤에 온\n"
    "Ctrl-C 는 아무것도 바꾸지 않습니다.\n"
    "\n"
    "종료 상태: 모든 파일이 성공하면 0, 실패한 파일이 있으면 1, 사용법 오류(읽을 수 없거나\n"
    "거절한 암호 포함)는 2, Ctrl-C 로 작업을 멈췄으면 130 (SIGHUP 은 129, SIGQUIT 는 131,\n"
    "SIGTERM 은 143).\n");

std::string DecryptHelp() {
  return std::string(Tr(
             "사용법: qv3 decrypt [옵션] 암호파일...\n"
             "\n"
             "암호 파일을 풉니다. 여러 개를 한꺼번에 풉니다(--jobs). 암호 파일의 이름은 .aqv3 나\n"
             "종류별 확장자(.pqv3 ... .zqv3, 대소문자 무관)로 끝나야 합니다. 평문은 그 확장자를\n"
             "뺀 이름(report.docx.aqv3 이면 report.docx)으로 암호 파일 옆에 쓰고 읽기 전용으로\n"
             "합니다. 암호 파일을 검증한 뒤에야 제자리에 놓으며, 그 이름의 파일이 이미 있으면\n"
             "--overwrite 를 주지 않는 한 바꾸지 않고 그 암호 파일이 실패합니다.\n")) +
         Tr(kBatchHelp) +
         Format(Tr(
             "\n"
             "  -o, --output 경로    암호 파일 하나: 이름과 관계없이 평문을 경로에 씁니다 (역시\n"
             "                       검증한 뒤에만)\n"
             "  --overwrite          평문의 경로에 있는 파일(읽기 전용이라도)을 암호 파일을 검증한\n"
             "                       뒤 바꿉니다\n"
             "  --to-working-folder  평문을 대신 작업 폴더에 씁니다:\n"
             "                         %s\n"
             "                         (뷰어의 폴더: 다음 실행이 실행 중인 뷰어가 보여 주지 않고\n"
             "                         어떤 프로그램도 열지 않은 평문을 모두 지웁니다. 그곳의\n"
             "                         파일은 읽기 전용이 아니면 바꿉니다. 실행 중인 뷰어의 평문은\n"
             "                         읽기 전용입니다)\n"
             "  --delete-source      풀고 나면 암호 파일을 지웁니다\n"
             "  -r, --recursive      폴더는 그 아래의 모든 암호 파일을 뜻합니다 (아래를 보십시오)\n"
             "  --list-skipped       -r 이 건너뛴 것을 표준 출력에 한 줄에 하나씩 씁니다: 종류,\n"
             "                       탭, 경로\n"),
                WorkingFolder().c_str()) +
         JobsHelp() + Tr(
             "  -h, --help           이 도움말을 보입니다\n") + "\n" + Tr(kPasswordHelp) + Tr(
             "  두 옵션이 모두 없으면 터미널에서 한 번, 화면에 보이지 않게 묻습니다. 다만 암호\n"
             "  파일이 모두 종류별 확장자를 달고 빈 암호로 열리면 묻지 않습니다.\n"
             "  암호 파일마다 암호가 만들어졌을 수 있는 형태를 차례로 해 봅니다. 입력한 글자는\n"
             "  이 시스템의 형태, 코드 페이지 949 (한국어 Windows), UTF-8 의 차례로 각각 앞의\n"
             "  11 바이트 (데스크톱 뷰어의 암호 창이 쓰는 만큼), 그 다음 자르지 않은 전체입니다.\n"
             "  파일이나 표준 입력의 암호는 주어진 바이트 그대로, 그 다음 UTF-8 글자라면 입력한\n"
             "  글자와 같은 형태들입니다. 종류별 확장자의 암호 파일은 먼저 빈 암호로 해 봅니다.\n"
             "  어느 것으로도 열리지 않을 때만 그 암호 파일의 암호가 틀린 것입니다.\n"
             "  256 바이트까지 어떤 길이의 암호든 받습니다.\n") + "\n" + Tr(kFolderHelp) + "\n" + Tr(kExitHelp);
}

std::string EncryptHelp() {
  return std::string(Tr(
             "사용법: qv3 encrypt [옵션] 파일...\n"
             "\n"
             "파일마다 옆에 버전 2 암호 파일을 만듭니다. 여러 개를 한꺼번에 만듭니다(--jobs).\n"
             "암호 파일의 이름은 파일의 전체 이름에 점과, 암호가 비어 있지 않으면 \"aqv3\"를\n"
             "붙인 것입니다(report.docx.aqv3). 빈 암호면 확장자가 파일의 종류를 말합니다\n"
             "(report.docx.wqv3, photo.jpg.pqv3, 그 밖의 종류는 .bqv3). 그 이름의 파일이 이미\n"
             "있으면 바꾸지 않고 그 파일의 암호화가 실패합니다. 원래 파일은 바꾸지 않습니다\n"
             "(--delete-source 를 주면 암호 파일이 완성된 뒤 지울 뿐입니다).\n")) +
         Tr(kBatchHelp) + Tr(
             "\n"
             "  --delete-source      암호화하고 나면 파일을 지웁니다\n"
             "  --long-password      11 바이트보다 긴 암호를 받습니다 (아래를 보십시오)\n"
             "  -r, --recursive      폴더는 그 아래의 모든 파일을 뜻합니다 (아래를 보십시오)\n"
             "  --list-skipped       -r 이 건너뛴 것을 표준 출력에 한 줄에 하나씩 씁니다: 종류,\n"
             "                       탭, 경로\n") +
         JobsHelp() + Tr(
             "  -h, --help           이 도움말을 보입니다\n") + "\n" + Tr(kPasswordHelp) + Tr(
             "  두 옵션이 모두 없으면 터미널에서 두 번, 화면에 보이지 않게 묻습니다. 둘이 다르면\n"
             "  아무것도 암호화하지 않고 종료 상태는 2 입니다.\n"
             "  데스크톱 뷰어는 암호 창에 입력한 것 가운데 앞의 11 바이트만 쓰므로, 더 긴 암호로\n"
             "  만든 암호 파일은 qv3 decrypt 로만 열립니다: 그런 암호는 --long-password 를 주지\n"
             "  않으면 거절하고 (종료 상태 2, 아무것도 쓰지 않음), 주면 암호 파일을 만들고\n"
             "  경고합니다. 세는 바이트는 해시하는 바이트입니다.\n"
             "  입력한 암호는 한국어 Windows 가 입력하는 바이트, 곧 코드 페이지 949 로 씁니다\n"
             "  (한글 한 글자가 2 바이트; Windows 에서는 시스템의 코드 페이지가 모든 글자를\n"
             "  담으면 그 코드 페이지로). 그렇게 나타낼 수 없는 글자가 있으면 그 글자를 말하고\n"
             "  아무것도 쓰지 않습니다 (종료 상태 2). 파일이나 표준 입력의 암호는 주어진 바이트\n"
             "  그대로 씁니다.\n") + "\n" + Tr(kFolderHelp) + "\n" + Tr(kExitHelp);
}

int Usage(const std::string& command, const std::string& text) {
  PrintError(UsageText(command, text));
  return 2;
}

// A password that cannot be had is a usage error too; its text says what to do.
int PasswordError(const std::string& command, const std::string& text) {
  PrintError(command + ": " + text);
  return 2;
}

// The engine takes a container's name from after its last separator in working-folder
// mode and refuses a path without one; a bare name means the current folder.
std::string ForWorkingFolder(std::string path) {
  // Windows also takes '/' between folders; the engine looks for '\' only.
  if (kPathSeparator == '\\')
    for (char& c : path)
      if (c == '/') c = '\\';
  if (path.find(kPathSeparator) == std::string::npos) path = std::string(".") + kPathSeparator + path;
  return path;
}

}  // namespace

int ParseRequest(const std::vector<std::string>& args, CryptRequest* request, PasswordOptions* passwordOptions) {
  const std::string command = request->encrypt ? "encrypt" : "decrypt";
  ArgReader reader(args);
  while (reader.Next()) {
    if (!reader.IsOption()) {
      request->files.push_back(reader.Current());
      continue;
    }
    const std::string& name = reader.Current();
    std::string error;
    const OptionParse parsed = ParsePasswordOption(reader, passwordOptions, &error);
    if (parsed == OptionParse::Error) return Usage(command, error);
    if (parsed == OptionParse::Taken) continue;
    const bool flag = !reader.HasJoinedValue();
    if ((name == "--help" || name == "-h") && flag) {
      WriteStandard(StandardStream::Output, request->encrypt ? EncryptHelp() : DecryptHelp());
      return -1;
    }
    if (name == "--delete-source" && flag) {
      request->deleteSource = true;
    } else if ((name == "-r" || name == "--recursive") && flag) {
      request->recursive = true;
    } else if (name == "--list-skipped" && flag) {
      request->listSkipped = true;
    } else if (request->encrypt && name == "--long-password" && flag) {
      request->longPassword = true;
    } else if (!request->encrypt && name == "--to-working-folder" && flag) {
      request->toWorkingFolder = true;
    } else if (!request->encrypt && name == "--overwrite" && flag) {
      request->overwrite = true;
    } else if (!request->encrypt && (name == "-o" || name == "--output")) {
      if (!reader.TakeValue(&request->outputPath) || request->outputPath.empty())
        return Usage(command, Format(Tr("%s 에는 평문의 경로가 필요합니다"), name.c_str()));
    } else if (name == "--jobs") {
      std::string value;
      char* end = nullptr;
      const unsigned long n =
          reader.TakeValue(&value) && !value.empty() && value[0] != '-' && value[0] != '+'
              ? std::strtoul(value.c_str(), &end, 10)
              : 0;
      if (!end || *end != 0 || n < 1 || n > kMaxJobs)
        return Usage(command, Format(Tr("--jobs 에는 1 에서 %u 까지의 수가 필요합니다"), kMaxJobs));
      request->jobs = static_cast<unsigned>(n);
    } else {
      return Usage(command, Format(Tr("알 수 없는 옵션 '%s'"),
                                   (reader.Current() + (reader.HasJoinedValue() ? "=..." : "")).c_str()));
    }
  }
  if (request->files.empty())
    return Usage(command, Tr(request->encrypt ? N_("파일을 주지 않았습니다") : N_("암호 파일을 주지 않았습니다")));
  if (!request->outputPath.empty() && request->files.size() != 1)
    return Usage(command, Format(Tr("-o 는 암호 파일 하나의 평문 이름입니다. %s 개를 주었습니다"),
                                 std::to_string(request->files.size()).c_str()));
  if (!request->outputPath.empty() && request->toWorkingFolder)
    return Usage(command, Tr("-o 와 --to-working-folder 가 평문의 자리를 두 가지로 정합니다"));
  // A folder's files go beside themselves: one path, or the working folder, cannot hold
  // a tree's.
  if (request->recursive && !request->outputPath.empty())
    return Usage(command, Tr("-r 의 평문은 저마다 암호 파일 옆에 씁니다: -o 와 함께 줄 수 없습니다"));
  if (request->recursive && request->toWorkingFolder)
    return Usage(command, Tr("-r 의 평문은 저마다 암호 파일 옆에 씁니다: --to-working-folder 와 함께 줄 수 없습니다"));
  if (request->listSkipped && !request->recursive)
    return Usage(command, Tr("--list-skipped 는 -r 과 함께만 씁니다"));
  return 0;
}

namespace {

// A new container's password longer than the desktop viewers take is refused before
// anything is written: it makes a container no desktop viewer can open. Returns 0 to go
// on, else the exit status.
int CheckNewPasswordLength(const std::string& command, const CryptRequest& request, size_t bytes) {
  if (bytes <= kPromptPasswordBytes) return 0;
  const std::string length = std::to_string(bytes);
  const unsigned typed = static_cast<unsigned>(kPromptPasswordBytes);
  if (!request.longPassword)
    return PasswordError(command, Format(Tr("암호가 %s 바이트인데, 데스크톱 뷰어는 암호 창에 입력한 앞의 %u 바이트만 써서 "
                                            "그 암호 파일을 열 수 없습니다. 더 짧은 암호를 고르거나, qv3 decrypt 로만 "
                                            "열 암호 파일을 만들려면 --long-password 를 주십시오 (아무것도 쓰지 "
                                            "않았습니다)"),
                                         length.c_str(), typed));
  WriteStandard(StandardStream::Error,
                "qv3: warning: " +
                    Format(Tr("암호가 %s 바이트입니다: 이 암호 파일은 데스크톱 뷰어가 아니라 qv3 decrypt 로만 열 수 "
                              "있습니다 (뷰어는 입력한 앞의 %u 바이트를 씁니다)"),
                           length.c_str(), typed) +
                    "\n");
  return 0;
}

// The name a file of a batch is known by when the batch compares names: its last part,
// every letter's case folded as a file system that ignores case folds it, and an output's
// temporary names (NAME.qv3part, NAME.qv3part2 …) all one name.
std::string ConflictKey(const std::string& path) {
  std::string name = path;
  const size_t separator = name.find_last_of("/\\");
  if (separator != std::string::npos) name.erase(0, separator + 1);
  name = FoldLetterCase(name);
  const size_t partial = name.rfind(kPartialSuffix);
  if (partial != std::string::npos &&
      name.find_first_not_of("0123456789", partial + std::strlen(kPartialSuffix)) == std::string::npos)
    name.resize(partial + std::strlen(kPartialSuffix));
  return name;
}

// The folder part of path (up to its last separator), "." for a bare name.
std::string FolderOf(const std::string& path) {
  const size_t separator = path.find_last_of(kPathSeparator == '\\' ? "/\\" : "/");
  if (separator == std::string::npos) return ".";
  return separator == 0 ? path.substr(0, 1) : path.substr(0, separator);
}

// What a batch's files are compared by: each name a file's run reads or writes, as the
// folder it is in (by identity: two spellings of one folder are one) and ConflictKey of
// its last part. Named files' folders are asked of the system, the last one kept.
class NameKeys {
 public:
  NameKeys(const CryptRequest& request, bool passwordGiven)
      : m_request(request),
        m_passwordGiven(passwordGiven),
        m_workingFolder(request.toWorkingFolder ? WorkingFolder() : std::string()) {}

  // The input's, the output's and the output's temporary names.
  std::vector<std::string> Touched(const ListedFile& file) {
    const std::string& path = file.path;
    const bool found = file.origin != ListedFile::Origin::Named;
    const std::string in = (found ? Key(file.folder) : FolderKey(FolderOf(path))) + ConflictKey(path);
    std::string output, outputFolder;
    if (m_request.encrypt)
      output = path + "." + ChooseEncryptedExtension(path.c_str(), m_passwordGiven);
    else if (!m_request.outputPath.empty())
      output = m_request.outputPath;
    else if (path.size() > 5)
      output = path.substr(0, path.size() - 5);
    if (output.empty() || file.origin == ListedFile::Origin::Unreadable) return {in};
    std::string folder;
    if (m_request.toWorkingFolder)
      folder = WorkingFolderKey();
    else if (!m_request.outputPath.empty())
      folder = FolderKey(FolderOf(output));
    else
      folder = found ? Key(file.folder) : FolderKey(FolderOf(path));
    return {in, folder + ConflictKey(output), folder + ConflictKey(output + kPartialSuffix)};
  }
  // The run's working folder (empty without --to-working-folder), asked of the system once.
  const std::string& RunWorkingFolder() const { return m_workingFolder; }

 private:
  static std::string Key(const FileIdentity& folder) {
    return std::to_string(folder.volume) + ":" + std::to_string(folder.file) + "/";
  }
  std::string WorkingFolderKey() {
    if (m_workingKey.empty()) {
      FileIdentity identity;
      m_workingKey = FolderIdentityOf(m_workingFolder.c_str(), &identity) ? Key(identity) : "?/";
    }
    return m_workingKey;
  }
  // A folder that cannot be told (a missing one) is known by no identity: its files
  // then meet every other such file of their name.
  std::string FolderKey(const std::string& folder) {
    if (folder != m_lastFolder) {
      m_lastFolder = folder;
      FileIdentity identity;
      m_lastKey = FolderIdentityOf(folder.c_str(), &identity) ? Key(identity) : "?/";
    }
    return m_lastKey;
  }

  const CryptRequest& m_request;
  const bool m_passwordGiven;
  const std::string m_workingFolder;  // the run's, asked once
  std::string m_workingKey, m_lastFolder, m_lastKey;
};

// The system's random source, acquired once and kept for a batch's later files: on
// Windows acquiring it costs more than a small file's own work.
class KeptRandom : public RandomSource {
 public:
  bool Acquire() override { return m_source.Acquire(); }
  bool Fill32(uint8_t out[32]) override { return m_source.Fill32(out); }
  bool Fill(uint8_t* out, size_t count) override { return m_source.Fill(out, count); }
  void Release() override {}  // released with the batch

 private:
  SystemRandomSource m_source;
};

// One file's call of the library, its progress, cancel and messages going to the file's
// console front end: the view's progress and Ctrl-C, every failure and notice held in
// the order they come until the earlier files' are out.
class FileCall {
 public:
  FileCall(FrontEnd& ui, ProgressOperation operation) : m_ui(ui), m_view(ui.OpenProgress(operation)) {
    m_progress.struct_size = sizeof m_progress;
    m_progress.callback = [](void* self, unsigned percent) {
      static_cast<FileCall*>(self)->m_view->SetProgress(percent);
      return 0;
    };
    m_progress.cancelled = [](void* self) { return static_cast<FileCall*>(self)->m_view->IsCancelled() ? 1 : 0; };
    m_progress.notice = [](void* self, int code, const char* message) {
      FileCall& call = *static_cast<FileCall*>(self);
      if (code == QV3_OK) {
        call.m_ui.ShowNotice(message);
        return;
      }
      call.m_ui.ShowErrorMessage(message, 0);  // the system's text is in it already
      call.m_failureTold = true;
      // A folder named without -r: what would take it.
      if (code == QV3_DIRECTORY_NOT_ENCRYPTED || code == QV3_DIRECTORY_NOT_DECRYPTED)
        call.m_ui.ShowNotice(Tr("폴더 안의 파일을 모두 하려면 -r 을 주십시오"));
    };
    m_progress.context = this;
  }
  const qv3_progress* Progress() const { return &m_progress; }

  // What became of the file, from the call's code. A failure's message was told as it
  // came, except one the call met outside the engines' work (no memory, no thread): that
  // one is told now, so that no failure goes without its message.
  FileOutcome Outcome(int code, qv3_error* error) {
    if (code != QV3_OK && code != QV3_CANCELLED && !m_failureTold) {
      // No error at all: there was no memory to make one.
      const char* message = error ? qv3_error_message(error) : nullptr;
      m_ui.ShowErrorMessage(message && *message ? std::string(message)
                                                : FailureText(Failure{FailureKind::MemoryAllocation, 0, {}}),
                            0);
    }
    qv3_error_free(error);
    if (code == QV3_OK) return FileOutcome::Done;
    return code == QV3_CANCELLED ? FileOutcome::Cancelled : FileOutcome::Failed;
  }

 private:
  FrontEnd& m_ui;
  std::unique_ptr<ProgressView> m_view;
  qv3_progress m_progress{};
  bool m_failureTold = false;  // a failure's message reached m_ui through the notices
};

// One library call per file: what becomes of a file does not depend on the others, so
// that any number of them can run at once. The files come from a FolderFiles, found as
// the batch goes; what is kept of each lasts until it is handed on.
class CryptBatch : public StreamWork {
 public:
  // passwords: what decryption hands the library (flags say how it reads them); keyed:
  // encryption's one password, its bytes as they are keyed.
  CryptBatch(const CryptRequest& request, FolderFiles& files, const std::string& passwords, unsigned passwordFlags,
             const std::string& keyed, ConsoleBatch& console)
      : m_request(request),
        m_files(files),
        m_passwords(passwords),
        m_passwordFlags(passwordFlags),
        m_keyed(keyed),
        m_console(console),
        m_keys(request, !keyed.empty()) {}

  // The next file, and the earlier files still in work that touch one of its names: it
  // starts only once they have ended, so that its outcome is the one it has when the
  // files run one at a time.
  bool Find(size_t file, std::vector<size_t>* waitFor) override {
    Kept kept;
    if (!m_files.Next(&kept.file)) return false;
    if (m_request.toWorkingFolder) kept.file.path = ForWorkingFolder(kept.file.path);
    kept.names = m_keys.Touched(kept.file);
    m_console.Found(file, kept.file);
    LockGuard guard(&m_keptLock);
    for (const std::string& name : kept.names) {
      const auto found = m_lastToTouch.find(name);
      if (found != m_lastToTouch.end() && found->second != file) waitFor->push_back(found->second);
      m_lastToTouch[name] = file;
    }
    m_kept.push_back(std::move(kept));
    return true;
  }

  // A Ctrl-C before a file starts leaves it, and the files after it, unstarted.
  bool MayStart(size_t) override { return !InterruptRequested(); }

  void Run(size_t file) override {
    ListedFile found;
    {
      LockGuard guard(&m_keptLock);
      found = m_kept[file - m_firstKept].file;
    }
    FileCall call(m_console.File(file), m_request.encrypt ? OPERATION_ENCRYPT : OPERATION_DECRYPT);
    qv3_error* error = nullptr;
    int code;
    if (m_request.encrypt) {
      // The length was checked above, with --long-password's warning.
      unsigned flags = QV3_PASSWORD_BYTES | QV3_LONG_PASSWORD | (m_keyed.empty() ? QV3_EMPTY_PASSWORD : 0u);
      if (m_request.deleteSource) flags |= QV3_DELETE_SOURCE;
      std::unique_ptr<KeptRandom> random = TakeRandom();
      code = capi::EncryptFile(found, m_keyed.data(), m_keyed.size(), flags, call.Progress(), nullptr, &error,
                               random.get());
      GiveBack(std::move(random));
    } else {
      unsigned flags = m_passwordFlags;
      if (m_request.deleteSource) flags |= QV3_DELETE_SOURCE;
      if (m_request.overwrite) flags |= QV3_OVERWRITE;
      if (m_request.toWorkingFolder) flags |= QV3_TO_WORKING_FOLDER;
      const char* output = m_request.toWorkingFolder         ? m_keys.RunWorkingFolder().c_str()
                           : !m_request.outputPath.empty() ? m_request.outputPath.c_str()
                                                             : nullptr;
      code = capi::DecryptFile(found, output, m_passwords.data(), m_passwords.size(), flags, call.Progress(), &error);
    }
    m_console.RunEnded(file, call.Outcome(code, error));
  }

  void Ended(size_t file, bool started) override {
    m_console.Ended(file, started);
    LockGuard guard(&m_keptLock);
    // Its names no longer hold a later file back.
    for (const std::string& name : m_kept.front().names) {
      const auto found = m_lastToTouch.find(name);
      if (found != m_lastToTouch.end() && found->second == file) m_lastToTouch.erase(found);
    }
    m_kept.pop_front();
    ++m_firstKept;
  }

 private:
  // What is kept of a file from its finding until it is handed on.
  struct Kept {
    ListedFile file;
    std::vector<std::string> names;
  };

  // A source for one file's run: one that an earlier file gave back, or a new one.
  std::unique_ptr<KeptRandom> TakeRandom() {
    LockGuard guard(&m_randomLock);
    if (m_random.empty()) return std::make_unique<KeptRandom>();
    std::unique_ptr<KeptRandom> random = std::move(m_random.back());
    m_random.pop_back();
    return random;
  }
  void GiveBack(std::unique_ptr<KeptRandom> random) {
    LockGuard guard(&m_randomLock);
    m_random.push_back(std::move(random));
  }

  const CryptRequest& m_request;
  FolderFiles& m_files;
  const std::string& m_passwords;
  const unsigned m_passwordFlags;
  const std::string& m_keyed;
  ConsoleBatch& m_console;
  NameKeys m_keys;  // Find's own; the run's working folder
  Lock m_randomLock;
  std::vector<std::unique_ptr<KeptRandom>> m_random;  // at most one a thread
  Lock m_keptLock;
  std::deque<Kept> m_kept;  // files m_firstKept on, found and not yet handed on
  size_t m_firstKept = 0;
  // Each name touched by a file not yet handed on: the last such file.
  std::unordered_map<std::string, size_t> m_lastToTouch;
};

// The files found and not yet handed on, at most: a tree of any size holds no more.
constexpr size_t kBatchWindow = 1024;

// How a -r run ended: files done, failed, and what the walk skipped, by kind.
void SaySummary(ConsoleBatch& console, FolderFiles& files, bool encrypt) {
  std::string line = Format(Tr(encrypt ? N_("파일 %s개를 암호 파일로 만들었고, %s개는 실패했습니다")
                                       : N_("암호 파일 %s개를 풀었고, %s개는 실패했습니다")),
                            std::to_string(console.FilesDone()).c_str(), std::to_string(console.FilesFailed()).c_str());
  const std::string skipped = SkippedSummary(files.Skipped());
  if (!skipped.empty()) line += Format(Tr(". 건너뛴 것: %s"), skipped.c_str());
  console.Say("qv3: " + line + "\n");
}

int RunCrypt(const std::vector<std::string>& args, bool encrypt) {
  const std::string command = encrypt ? "encrypt" : "decrypt";
  CryptRequest request;
  request.encrypt = encrypt;
  PasswordOptions passwordOptions;
  // One typing mistake would make a container nobody can open (and, with
  // --delete-source, lose the file).
  passwordOptions.askTwice = encrypt;
  if (const int status = ParseRequest(args, &request, &passwordOptions)) return status < 0 ? 0 : status;

  // Decryption asks nobody where every container opens with the empty password.
  const bool askNobody = !encrypt && passwordOptions.source == PasswordOptions::Source::Prompt &&
                         !passwordOptions.empty && OpensWithoutPassword(request.files);
  GivenPassword given;
  std::string error;
  if (!askNobody && !ObtainPassword(passwordOptions, &given, &error)) return PasswordError(command, error);
  if (passwordOptions.cp949 && !ConvertToCp949(&given, &error)) return PasswordError(command, error);
  const bool rule = given.typed && !passwordOptions.cp949;  // a typed text: the password rule's bytes

  // Decryption: the password as given, which the library turns into the forms each
  // container is tried with (typed text: the password rule's; else the bytes first).
  std::string passwords;
  StringWipe wipePasswords(passwords);
  unsigned passwordFlags = 0;
  std::string keyed;  // encryption: the one form it is keyed with
  StringWipe wipeKeyed(keyed);
  if (!encrypt) {
    passwords = given.bytes;
    if (!rule) passwordFlags |= QV3_PASSWORD_BYTES;
    if (passwords.empty()) passwordFlags |= QV3_EMPTY_PASSWORD;
  } else if (rule) {
    const NewPassword made = MakingPassword(given.bytes, SIZE_MAX);
    if (!made.accepted) return PasswordError(command, NewPasswordRefusal(made));
    keyed = made.bytes;
  } else {
    keyed = given.bytes;
  }
  if (encrypt)
    if (const int status = CheckNewPasswordLength(command, request, keyed.size())) return status;

  const unsigned jobs = request.jobs ? request.jobs : std::min(UsableProcessors(), kMaxJobs);

  InstallInterruptHandler();
  FolderFiles files(encrypt ? FolderWork::Encrypt : FolderWork::Decrypt, request.files, request.recursive);
  if (request.listSkipped)
    files.ListSkipped([](FolderSkip kind, const std::string& path) {
      WriteStandard(StandardStream::Output, std::string(FolderSkipName(kind)) + "\t" + EscapeControls(path) + "\n");
    });
  ConsoleBatch console(StderrIsTerminal(), files, request.files.size() == 1 && !files.AnyFolder());
  CryptBatch batch(request, files, passwords, passwordFlags, keyed, console);
  RunStream(batch, jobs, kBatchWindow);
  console.AllEnded();
  const int status = console.ExitStatus();
  if (request.recursive) SaySummary(console, files, encrypt);
  console.EndLine();
  WorkStopped();
  if (status == InterruptExitStatus()) WriteStandard(StandardStream::Error, Tr("qv3: 취소했습니다\n"));
  return status;
}

}  // namespace

int RunDecrypt(const std::vector<std::string>& args) { return RunCrypt(args, false); }
int RunEncrypt(const std::vector<std::string>& args) { return RunCrypt(args, true); }
