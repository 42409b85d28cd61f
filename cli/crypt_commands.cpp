// qv3 decrypt and qv3 encrypt: every file given is its own engine run, up to --jobs of
// them at once, with the console front end.

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "cli/args.h"
#include "cli/commands.h"
#include "cli/console_front_end.h"
#include "cli/password.h"
#include "container/engines.h"
#include "container/file_list.h"
#include "container/naming.h"
#include "container/password_choice.h"
#include "crypto/secure.h"
#include "jobs/batch.h"
#include "platform/console.h"
#include "platform/file_ops.h"
#include "platform/lock.h"
#include "platform/random.h"
#include "platform/thread.h"
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

// The most files worked on at once: each holds a few MiB of buffers and two threads.
constexpr unsigned kMaxJobs = 64;

std::string JobsHelp() {
  return "  --jobs N             work on up to N files at once, 1 to " + std::to_string(kMaxJobs) +
         " (default: the\n"
         "                       processors this process may use, here " +
         std::to_string(std::min(UsableProcessors(), kMaxJobs)) +
         "); messages,\n"
         "                       files left and exit status are those of --jobs 1\n";
}

const char kBatchHelp[] =
    "A failure of one file never stops the others: that file leaves no output. Each\n"
    "file's messages come in the order the files were given. Files that share a name\n"
    "(one given twice, or one whose output another reads or writes, letter case\n"
    "aside) are worked on one after the other, in that order.\n";

const char kExitHelp[] =
    "Progress is shown on standard error when it is a terminal; errors are printed there\n"
    "as \"qv3: error: ...\". Ctrl-C stops the work as a Cancel button does: every file\n"
    "in progress leaves no output and the files not yet started are not touched. A\n"
    "Ctrl-C that comes when every file is done changes nothing.\n"
    "\n"
    "Exit status: 0 when every file succeeded, 1 when a failure was reported, 2 for a\n"
    "usage error (including a password that cannot be read, or one refused as above),\n"
    "130 when Ctrl-C stopped the work.\n";

std::string DecryptHelp() {
  const std::string folder = WorkingFolder();
  return std::string(
             "usage: qv3 decrypt [OPTIONS] CONTAINER...\n"
             "\n"
             "Decrypts the containers, several at once (--jobs). A container's name must end\n"
             "in .aqv3 or one of the category extensions (.pqv3 ... .zqv3, any letter case);\n"
             "its plaintext is named after it without that extension (report.docx.aqv3 gives\n"
             "report.docx), written beside the container, and made read-only. It is put in\n"
             "place only once the container has been verified, and an existing file of that\n"
             "name is never replaced unless --overwrite is given: the container fails instead.\n") +
         kBatchHelp +
         "\n"
         "  -o, --output PATH    one container: write its plaintext to PATH, whatever the\n"
         "                       container is named (still only once it is verified)\n"
         "  --overwrite          replace an existing file at a plaintext's path (a\n"
         "                       read-only one too), once the container is verified\n"
         "  --to-working-folder  write the plaintexts into the working folder instead:\n"
         "                         " +
         folder +
         "\n"
         "                         (the viewer's own folder: its next run removes every\n"
         "                         plaintext there that no running viewer shows and no\n"
         "                         program has open; a file there is replaced unless it\n"
         "                         is read-only, as a running viewer's plaintext is)\n"
         "  --delete-source      remove each container once it has been decrypted\n" +
         JobsHelp() +
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
             "Encrypts the files into version 2 containers beside them, several at once\n"
             "(--jobs). The container's name is the file's full name, a dot and \"aqv3\" when\n"
             "the password is not empty (report.docx.aqv3); with an empty password the\n"
             "extension tells the kind of file (report.docx.wqv3, photo.jpg.pqv3, and .bqv3\n"
             "for other kinds). An existing file of that name is never replaced: encrypting\n"
             "it fails instead. The files themselves are not changed (only removed with\n"
             "--delete-source, once their container is complete).\n") +
         kBatchHelp +
         "\n"
         "  --delete-source      remove each file once it has been encrypted\n"
         "  --long-password      accept a password longer than 11 bytes (see below)\n" +
         JobsHelp() +
         "  -h, --help           show this help\n"
         "\n" +
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
  unsigned jobs = 0;  // 0: as many as the processors this process may use
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
    } else if (name == "--jobs") {
      std::string value;
      char* end = nullptr;
      const unsigned long n =
          reader.TakeValue(&value) && !value.empty() && value[0] != '-' && value[0] != '+'
              ? std::strtoul(value.c_str(), &end, 10)
              : 0;
      if (!end || *end != 0 || n < 1 || n > kMaxJobs)
        return Usage(command, "--jobs needs a number from 1 to " + std::to_string(kMaxJobs));
      request->jobs = static_cast<unsigned>(n);
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

// The names a file's run reads or writes, as the batch compares them: the input's and
// the output's last part, in ASCII lower case (a system may not tell letter case apart).
std::vector<std::string> NamesTouched(const CryptRequest& request, const std::string& path,
                                      bool passwordGiven) {
  auto folded = [](std::string name) {
    const size_t separator = name.find_last_of("/\\");
    if (separator != std::string::npos) name.erase(0, separator + 1);
    for (char& c : name)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return name;
  };
  const std::string input = folded(path);
  std::string output;
  if (request.encrypt)
    output = input + "." + ChooseEncryptedExtension(path.c_str(), passwordGiven);
  else if (!request.outputPath.empty())
    output = folded(request.outputPath);
  else if (input.size() > 5)
    output = input.substr(0, input.size() - 5);
  return {input, output};
}

// For each file, the earlier files that touch one of its names: it starts only once they
// have ended, so that its outcome is the one it has when the files run one at a time.
std::vector<std::vector<size_t>> WaitFor(const CryptRequest& request,
                                         const std::vector<std::string>& paths,
                                         bool passwordGiven) {
  std::vector<std::vector<size_t>> waitFor(paths.size());
  std::unordered_map<std::string, size_t> lastToTouch;
  for (size_t i = 0; i < paths.size(); ++i) {
    for (const std::string& name : NamesTouched(request, paths[i], passwordGiven)) {
      if (name.empty()) continue;
      const auto found = lastToTouch.find(name);
      if (found != lastToTouch.end() && found->second != i) waitFor[i].push_back(found->second);
      lastToTouch[name] = i;
    }
  }
  return waitFor;
}

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

// One engine run per file, with a one-file list: what becomes of a file does not depend
// on the others, so that any number of them can run at once.
class CryptBatch : public BatchWork {
 public:
  CryptBatch(const CryptRequest& request, const std::vector<std::string>& paths,
             const Password& password, ConsoleBatch& console)
      : m_request(request), m_paths(paths), m_password(password), m_console(console) {
    m_options.deleteSource = request.deleteSource;
    m_options.toWorkingFolder = request.toWorkingFolder;
    if (request.toWorkingFolder) m_options.workingFolder = WorkingFolder();
    m_options.overwrite = request.overwrite;
    m_options.outputPath = request.outputPath;
  }

  // A Ctrl-C before a file starts leaves it, and the files after it, unstarted.
  bool MayStart(size_t) override { return !InterruptRequested(); }

  void Run(size_t file) override {
    FileList list;
    list.Append(m_paths[file]);
    // The engines take a buffer of their own to wipe.
    char password[kMaxPasswordBytes + 1] = {};
    ScopedWipe wipe(password, sizeof password);
    std::copy(m_password.c_str(), m_password.c_str() + m_password.size(), password);
    if (m_request.encrypt) {
      std::unique_ptr<KeptRandom> random = TakeRandom();
      EncryptOptions options;
      options.deleteSource = m_request.deleteSource;
      options.useGenericExtension = m_password.size() > 0;
      EncryptFiles(m_keyScheduleLock, list, password, options, m_console.File(file), random.get());
      GiveBack(std::move(random));
    } else {
      DecryptFiles(m_keyScheduleLock, list, password, m_options, m_console.File(file));
    }
    m_console.RunEnded(file);
  }

  void Ended(size_t file, bool started) override { m_console.Ended(file, started); }

 private:
  const CryptRequest& m_request;
  const std::vector<std::string>& m_paths;
  const Password& m_password;
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

  ConsoleBatch& m_console;
  DecryptOptions m_options;
  Lock m_keyScheduleLock;
  Lock m_randomLock;
  std::vector<std::unique_ptr<KeptRandom>> m_random;  // at most one a thread
};

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
  // a container keyed there; the batch has one password, so choose it now.
  if (!encrypt && cp949.size() > 0 &&
      AlternateOpensFirstContainer(request.files, password.c_str(), password.size(), cp949.c_str(), cp949.size()))
    password.Assign(cp949.c_str(), cp949.size());

  std::vector<std::string> paths;
  for (const std::string& f : request.files)
    paths.push_back(request.toWorkingFolder ? ForWorkingFolder(f) : f);
  const unsigned jobs = request.jobs ? request.jobs : std::min(UsableProcessors(), kMaxJobs);

  InstallInterruptHandler();
  ConsoleBatch console(StderrIsTerminal(), paths);
  CryptBatch batch(request, paths, password, console);
  RunBatch(batch, paths.size(), jobs, WaitFor(request, paths, password.size() > 0));
  console.AllEnded();
  const int status = console.ExitStatus();
  console.EndLine();
  if (status == 130) WriteStandard(StandardStream::Error, "qv3: cancelled\n");
  return status;
}

}  // namespace

int RunDecrypt(const std::vector<std::string>& args) { return RunCrypt(args, false); }
int RunEncrypt(const std::vector<std::string>& args) { return RunCrypt(args, true); }
