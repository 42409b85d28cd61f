// qv3 decrypt and qv3 encrypt: one job over every file given, on the engines, with the
// console front end.

#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/commands.h"
#include "cli/console_front_end.h"
#include "cli/password.h"
#include "container/file_list.h"
#include "container/password_choice.h"
#include "jobs/job_runner.h"
#include "platform/console.h"
#include "platform/file_ops.h"
#include "platform/working_folder.h"

namespace {

const char kPasswordHelp[] =
    "Password (one for all files):\n"
    "  --password-file FILE      read it from FILE\n"
    "  --password-stdin          read it from standard input\n"
    "  --password-encoding cp949 convert it from UTF-8 to code page 949 first, the bytes\n"
    "                            a Korean Windows system uses; without this option the\n"
    "                            bytes are used exactly as given\n"
    "  --empty-password          the password is meant to be empty (without it, an empty\n"
    "                            password is refused as one that could not be read)\n"
    "  From a file or standard input the password is the bytes before the first line\n"
    "  end (CR or LF) or NUL, kept exactly (spaces included), at most 256 bytes.\n";

const char kExitHelp[] =
    "Progress is shown on standard error when it is a terminal; errors are printed there\n"
    "as \"qv3: error: ...\". Ctrl-C stops the work as a Cancel button does: the file in\n"
    "progress leaves no output and the files after it are not touched. A Ctrl-C that\n"
    "comes when every file is done changes nothing.\n"
    "\n"
    "Exit status: 0 when every file succeeded, 1 when a failure was reported, 2 for a\n"
    "usage error (including a password that cannot be read, or one refused as above),\n"
    "130 when Ctrl-C stopped the work.\n";

std::string DecryptHelp() {
  const std::string folder = WorkingFolder();
  return std::string(
             "usage: qv3 decrypt [OPTIONS] CONTAINER...\n"
             "\n"
             "Decrypts the containers in the order given, stopping at the first failure:\n"
             "that container leaves no output and the ones after it are not touched.\n"
             "A container's name must end in .aqv3 or one of the category extensions\n"
             "(.pqv3 ... .zqv3, any letter case); its plaintext is named after it without\n"
             "that extension (report.docx.aqv3 gives report.docx), written beside the\n"
             "container, and made read-only. It is put in place only once the container has\n"
             "been verified, and an existing file of that name is never replaced unless\n"
             "--overwrite is given: the container fails instead.\n"
             "\n"
             "  -o, --output PATH    one container: write its plaintext to PATH, whatever the\n"
             "                       container is named (still only once it is verified)\n"
             "  --overwrite          replace an existing file at a plaintext's path (a\n"
             "                       read-only one too), once the container is verified\n"
             "  --to-working-folder  write the plaintexts into the working folder instead:\n"
             "                         ") +
         folder +
         "\n"
         "                         (the viewer's own folder: its next run removes every\n"
         "                         plaintext there that no running viewer shows and no\n"
         "                         program has open; a file there is replaced unless it\n"
         "                         is read-only, as a running viewer's plaintext is)\n"
         "  --delete-source      remove each container once it has been decrypted\n"
         "  -h, --help           show this help\n"
         "\n" +
         kPasswordHelp +
         "  With neither option it is asked for once on the terminal, without echo.\n"
         "  A password typed on the terminal that holds non-ASCII characters and does not\n"
         "  open a container of version 1 or 2 is tried once more as code page 949 bytes\n"
         "  (where the terminal's text is UTF-8), for containers made on Korean Windows.\n"
         "  A password of any length up to 256 bytes is accepted.\n"
         "\n" +
         kExitHelp;
}

std::string EncryptHelp() {
  return std::string(
             "usage: qv3 encrypt [OPTIONS] FILE...\n"
             "\n"
             "Encrypts the files in the order given into version 2 containers beside them,\n"
             "stopping at the first failure: that file's container is removed and the files\n"
             "after it are not touched. The container's name is the file's full name, a dot\n"
             "and \"aqv3\" when the password is not empty (report.docx.aqv3); with an empty\n"
             "password the extension tells the kind of file (report.docx.wqv3, photo.jpg.pqv3,\n"
             "and .bqv3 for other kinds). An existing file of that name is never replaced:\n"
             "encrypting it fails instead. The files themselves are not changed (only removed\n"
             "with --delete-source, once their container is complete).\n"
             "\n"
             "  --delete-source      remove each file once it has been encrypted\n"
             "  --long-password      accept a password longer than 11 bytes (see below)\n"
             "  -h, --help           show this help\n"
             "\n") +
         kPasswordHelp +
         "  With neither option it is asked for twice on the terminal, without echo; when\n"
         "  the two differ, nothing is encrypted and the exit status is 2.\n"
         "  The desktop viewers use only the first 11 bytes of what is typed into their\n"
         "  prompt, so a container made with a longer password would open in qv3 decrypt\n"
         "  alone: such a password is refused (exit status 2, nothing written) unless\n"
         "  --long-password is given, which makes the container and warns. The bytes\n"
         "  counted are those hashed: UTF-8 here (a Korean character is 3 bytes), or code\n"
         "  page 949 with --password-encoding cp949 (2 bytes).\n"
         "\n" +
         kExitHelp;
}

int Usage(const std::string& command, const std::string& text) {
  PrintError(command + ": " + text + " (see qv3 " + command + " --help)");
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

// What a command was asked, besides the password.
struct CryptRequest {
  bool encrypt = false;
  bool deleteSource = false;
  bool toWorkingFolder = false;
  bool overwrite = false;
  bool longPassword = false;
  bool emptyPassword = false;
  std::string outputPath;
  std::vector<std::string> files;
};

// Reads the command's options and files; returns 0 to go on, else the exit status (the
// help printed, or a usage error said).
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
    } else if (name == "--empty-password" && flag) {
      request->emptyPassword = true;
    } else if (request->encrypt && name == "--long-password" && flag) {
      request->longPassword = true;
    } else if (!request->encrypt && name == "--to-working-folder" && flag) {
      request->toWorkingFolder = true;
    } else if (!request->encrypt && name == "--overwrite" && flag) {
      request->overwrite = true;
    } else if (!request->encrypt && (name == "-o" || name == "--output")) {
      if (!reader.TakeValue(&request->outputPath) || request->outputPath.empty())
        return Usage(command, name + " needs the plaintext's path");
    } else {
      return Usage(command, "unknown option '" + reader.Current() + (reader.HasJoinedValue() ? "=...'" : "'"));
    }
  }
  if (request->files.empty()) return Usage(command, request->encrypt ? "no file given" : "no container given");
  if (!request->outputPath.empty() && request->files.size() != 1)
    return Usage(command, "-o names the plaintext of one container; " + std::to_string(request->files.size()) +
                              " were given");
  if (!request->outputPath.empty() && request->toWorkingFolder)
    return Usage(command, "-o and --to-working-folder choose the plaintext's place two ways");
  return 0;
}

// An empty or overlong password is refused before anything is written: the first is
// more often a mistake than a wish, the second makes a container no desktop viewer can
// open. Returns 0 to go on, else the exit status.
int CheckPassword(const std::string& command, const CryptRequest& request, const PasswordOptions& options,
                  const Password& password) {
  if (password.size() == 0 && !request.emptyPassword) {
    const std::string where = options.source == PasswordOptions::Source::File    ? "the password file " + options.file
                              : options.source == PasswordOptions::Source::Stdin ? std::string("standard input")
                                                                                 : std::string("the terminal");
    return PasswordError(command, "no password could be read: " + where +
                                      " gave an empty one (give --empty-password if the empty password is meant)");
  }
  if (!request.encrypt || password.size() <= kPromptPasswordBytes) return 0;
  const std::string length = std::to_string(password.size()) + " bytes";
  if (!request.longPassword)
    return PasswordError(command, "the password is " + length + " long, but the desktop viewers use only the first " +
                                      std::to_string(kPromptPasswordBytes) +
                                      " bytes typed into their prompt and could not open the container; choose a "
                                      "shorter password, or give --long-password to make it for qv3 decrypt alone "
                                      "(nothing was written)");
  WriteStandard(StandardStream::Error, "qv3: warning: the password is " + length +
                                           " long: only qv3 decrypt can open these containers, not the desktop "
                                           "viewers (they use the first " +
                                           std::to_string(kPromptPasswordBytes) + " bytes typed)\n");
  return 0;
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

  Password password, cp949;
  std::string error;
  if (!ObtainPassword(passwordOptions, &password, &error, &cp949)) return PasswordError(command, error);
  if (const int status = CheckPassword(command, request, passwordOptions, password)) return status;

  // A typed password whose bytes here differ from a Korean Windows system's cannot open
  // a container keyed there; the job has one password, so choose it now.
  if (!encrypt && cp949.size() > 0 &&
      AlternateOpensFirstContainer(request.files, password.c_str(), password.size(), cp949.c_str(), cp949.size()))
    password.Assign(cp949.c_str(), cp949.size());

  FileList* list = new FileList;
  for (const std::string& f : request.files) list->Append(request.toWorkingFolder ? ForWorkingFolder(f) : f);

  JobOptions options;
  options.encrypt = encrypt;
  options.deleteSource = request.deleteSource;
  options.toWorkingFolder = request.toWorkingFolder;
  if (request.toWorkingFolder) options.workingFolder = WorkingFolder();
  options.overwrite = request.overwrite;
  options.outputPath = request.outputPath;

  InstallInterruptHandler();
  ConsoleFrontEnd ui(StderrIsTerminal(), request.files.size());
  {
    JobRunner runner(ui);
    runner.RunJob(list, options, password.c_str());
  }
  const int status = ui.ExitStatus();
  ui.EndLine();
  if (status == 130) WriteStandard(StandardStream::Error, "qv3: cancelled\n");
  return status;
}

}  // namespace

int RunDecrypt(const std::vector<std::string>& args) { return RunCrypt(args, false); }
int RunEncrypt(const std::vector<std::string>& args) { return RunCrypt(args, true); }
