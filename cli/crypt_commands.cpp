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
#include "platform/mbstring.h"
#include "platform/working_folder.h"

namespace {

const char kPasswordHelp[] =
    "Password (one for all files):\n"
    "  --password-file FILE      read it from FILE\n"
    "  --password-stdin          read it from standard input\n"
    "  --password-encoding cp949 convert it from UTF-8 to code page 949 first, the bytes\n"
    "                            a Korean Windows system uses; without this option the\n"
    "                            bytes are used exactly as given\n"
    "  From a file or standard input the password is the bytes before the first line\n"
    "  end (CR or LF) or NUL, kept exactly (spaces included), at most 256 bytes.\n";

const char kExitHelp[] =
    "Progress is shown on standard error when it is a terminal; errors are printed there\n"
    "as \"qv3: error: ...\". Ctrl-C stops the work as a Cancel button does: the file in\n"
    "progress leaves no output and the files after it are not touched. A Ctrl-C that\n"
    "comes when every file is done changes nothing.\n"
    "\n"
    "Exit status: 0 when every file succeeded, 1 when a failure was reported, 2 for a\n"
    "usage error (including a password that cannot be read), 130 when Ctrl-C stopped\n"
    "the work.\n";

std::string DecryptHelp() {
  char folder[520] = {};
  GetWorkingFolder(sizeof folder, folder);
  return std::string(
             "usage: qv3 decrypt [OPTIONS] CONTAINER...\n"
             "\n"
             "Decrypts the containers in the order given, stopping at the first failure:\n"
             "that container leaves no output and the ones after it are not touched.\n"
             "Each plaintext is named after its container without the last five bytes\n"
             "(report.docx.aqv3 gives report.docx), written beside the container, and made\n"
             "read-only. It is put in place only once the container has been verified, so a\n"
             "file already at that path survives every failure (a read-only one is refused).\n"
             "\n"
             "  --to-working-folder  write the plaintexts into the working folder instead:\n"
             "                         ") +
         folder +
         "\n"
         "                         (the viewer's own folder: its next run removes every\n"
         "                         plaintext there that no running viewer shows and no\n"
         "                         program has open)\n"
         "  --delete-source      remove each container once it has been decrypted\n"
         "  -h, --help           show this help\n"
         "\n" +
         kPasswordHelp +
         "  With neither option it is asked for once on the terminal, without echo.\n"
         "  A password typed on the terminal that holds non-ASCII characters and does not\n"
         "  open a container of version 1 or 2 is tried once more as code page 949 bytes\n"
         "  (where the terminal's text is UTF-8), for containers made on Korean Windows.\n"
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
             "  -h, --help           show this help\n"
             "\n") +
         kPasswordHelp +
         "  With neither option it is asked for twice on the terminal, without echo; when\n"
         "  the two differ, nothing is encrypted and the exit status is 2.\n"
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
  if (kPathSeparator == '\\') {
    // Windows also takes '/' between folders; the engine looks for '\' only.
    for (size_t i = 0; i < path.size(); ++i) {
      if (IsLeadByte(static_cast<unsigned char>(path[i])))
        ++i;
      else if (path[i] == '/')
        path[i] = '\\';
    }
  }
  if (!MbsRChr(path.c_str(), kPathSeparator)) path = std::string(".") + kPathSeparator + path;
  return path;
}

int RunCrypt(const std::vector<std::string>& args, bool encrypt) {
  const std::string command = encrypt ? "encrypt" : "decrypt";
  PasswordOptions passwordOptions;
  // One typing mistake would make a container nobody can open (and, with
  // --delete-source, lose the file).
  passwordOptions.askTwice = encrypt;
  bool deleteSource = false;
  bool toWorkingFolder = false;
  std::vector<std::string> files;

  ArgReader reader(args);
  while (reader.Next()) {
    if (!reader.IsOption()) {
      files.push_back(reader.Current());
      continue;
    }
    const std::string& name = reader.Current();
    std::string error;
    const OptionParse parsed = ParsePasswordOption(reader, &passwordOptions, &error);
    if (parsed == OptionParse::Error) return Usage(command, error);
    if (parsed == OptionParse::Taken) continue;
    if ((name == "--help" || name == "-h") && !reader.HasJoinedValue()) {
      const std::string help = encrypt ? EncryptHelp() : DecryptHelp();
      WriteStandard(StandardStream::Output, help);
      return 0;
    }
    if (name == "--delete-source" && !reader.HasJoinedValue()) {
      deleteSource = true;
    } else if (!encrypt && name == "--to-working-folder" && !reader.HasJoinedValue()) {
      toWorkingFolder = true;
    } else {
      return Usage(command, "unknown option '" + reader.Current() +
                                (reader.HasJoinedValue() ? "=...'" : "'"));
    }
  }
  if (files.empty()) return Usage(command, encrypt ? "no file given" : "no container given");

  Password password;
  std::string error;
  if (!ObtainPassword(passwordOptions, &password, &error)) return PasswordError(command, error);

  // A password typed on a UTF-8 terminal cannot open a container keyed with the code
  // page 949 bytes of the same text; the job has one password, so choose it now.
  if (!encrypt && passwordOptions.source == PasswordOptions::Source::Prompt &&
      !passwordOptions.cp949) {
    Password cp949;
    if (Cp949Form(password, &cp949) &&
        AlternateOpensFirstContainer(files, password.c_str(), password.size(), cp949.c_str(), cp949.size()))
      password.Assign(cp949.c_str(), cp949.size());
  }

  FileList* list = new FileList;
  for (const std::string& f : files) list->Append(toWorkingFolder ? ForWorkingFolder(f) : f);

  InstallInterruptHandler();
  ConsoleFrontEnd ui(StderrIsTerminal(), files.size());
  {
    JobRunner runner(ui);
    runner.RunJob(list, encrypt, deleteSource, toWorkingFolder, password.c_str());
  }
  const int status = ui.ExitStatus();
  ui.EndLine();
  if (status == 130) WriteStandard(StandardStream::Error, "qv3: cancelled\n");
  return status;
}

}  // namespace

int RunDecrypt(const std::vector<std::string>& args) { return RunCrypt(args, false); }
int RunEncrypt(const std::vector<std::string>& args) { return RunCrypt(args, true); }
