#include "association/xdg_launch.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace {

constexpr useconds_t kPollMicroseconds = 20000;

// Types whose files run code when a desktop opens them, and those they are kinds of:
// programs, scripts, desktop entries, shortcuts and packages of other systems.
const char* const kCodeTypes[] = {
    "application/x-desktop",           "application/x-executable",
    "application/x-pie-executable",    "application/x-sharedlib",
    "application/x-shellscript",       "application/x-csh",
    "application/x-perl",              "text/x-python",
    "text/x-python3",                  "application/x-ruby",
    "application/x-ms-dos-executable", "application/x-msdownload",
    "application/x-ms-ne-executable",  "application/vnd.microsoft.portable-executable",
    "application/x-msi",               "application/x-ms-shortcut",
    "application/x-bat",               "application/x-java-archive",
    "application/x-java-jnlp-file",    "application/vnd.appimage",
    "application/x-iso9660-appimage",  "application/vnd.flatpak.ref",  "application/x-ms-application",
};

// Programs that run the file they are given: interpreters and runners of other
// systems' programs.
const char* const kCodeRunners[] = {"sh",  "bash", "dash", "zsh",  "python", "python3", "perl", "ruby",
                                    "node", "java", "mono", "wine", "wine64", "wine-stable", "env"};

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Joined(const std::vector<std::string>& argv) {
  std::string text;
  for (const std::string& argument : argv) text += (text.empty() ? "" : " ") + ExecArgument(argument);
  return text;
}

}  // namespace

bool RunAndWait(const std::vector<std::string>& argv, ChildOutput output, const ServeCallback& serve,
                int* exitCode) {
  *exitCode = -1;
  if (argv.empty()) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (output == ChildOutput::Discarded) {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  } else if (output == ChildOutput::ToStderr) {
    posix_spawn_file_actions_adddup2(&actions, 2, 1);
  }
  std::vector<std::string> copies(argv);
  std::vector<char*> pointers;
  for (std::string& argument : copies) pointers.push_back(&argument[0]);
  pointers.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, pointers[0], &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;

  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, serve ? WNOHANG : 0);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return true;  // not ours to wait for any more
    if (done == 0) {
      serve();
      usleep(kPollMicroseconds);
    }
  }
  if (WIFEXITED(status)) *exitCode = WEXITSTATUS(status);
  return true;
}

bool RunsCodeWhenOpened(const std::vector<std::string>& types, const std::string& application) {
  for (const std::string& type : types)
    for (const char* code : kCodeTypes)
      if (type == code) return true;
  DesktopEntry entry;
  std::vector<std::string> argv;
  const std::string file = "/nonexistent/file";
  if (application.empty() || !ReadDesktopEntry(application, &entry) || !LaunchCommand(entry, file, &argv) ||
      argv.empty())
    return false;
  const std::string program = BaseName(argv[0]);
  bool runner = false;
  for (const char* candidate : kCodeRunners) runner = runner || program == candidate;
  if (!runner) return false;
  // A runner of other systems' programs runs whatever it is given; an interpreter runs
  // the file when it is its script, not when the application is a script of its own
  // ("python3 /usr/share/app/app.py %f").
  if (program.compare(0, 4, "wine") == 0 || program == "mono") return true;
  for (size_t i = 1; i < argv.size(); ++i) {
    if (argv[i] == file || FileUrl(file) == argv[i]) return true;
    if (argv[i].empty() || argv[i][0] != '-') return false;
  }
  return false;
}

std::string ApplicationFor(const std::vector<std::string>& types, const XdgFolders& folders) {
  for (const std::string& candidate : types) {
    const std::string application = DefaultApplication(folders, candidate);
    if (!application.empty()) return application;
  }
  return std::string();
}

LaunchResult XdgLauncher::Open(const std::string& path, const std::vector<std::string>& types,
                               const XdgFolders& folders, const ServeCallback& serve, const SayCallback& say,
                               OpenWatch* watch) {
  auto tell = [&](const std::string& text) {
    if (say) say(text);
  };
  const std::string type = types.empty() ? std::string("application/octet-stream") : types[0];
  const std::string application = ApplicationFor(types, folders);
  if (!application.empty()) tell(path + " is " + type + ": its default application is " + application);

  DesktopEntry entry;
  std::vector<std::string> argv;
  int exitCode = 0;
  if (!application.empty() && ReadDesktopEntry(application, &entry) && LaunchCommand(entry, path, &argv)) {
    tell("starting " + Joined(argv));
    if (RunAndWait(argv, ChildOutput::Inherited, serve, &exitCode)) {
      tell("the program ended (status " + std::to_string(exitCode) + ")");
      return ProcessEnded;
    }
    tell("cannot start " + argv[0]);
  } else {
    tell("no application is associated with " + type);
  }

  if (!ProgramExists("xdg-open")) return Failed;
  tell("starting xdg-open " + ExecArgument(path));
  if (!RunAndWait({"xdg-open", path}, ChildOutput::Inherited, serve, &exitCode) || exitCode != 0) {
    tell("xdg-open found no program for it (status " + std::to_string(exitCode) + ")");
    return Failed;
  }
  // What opened the file while xdg-open ran was its own probing of the type; the program
  // it found may run on after it.
  if (watch) watch->Forget();
  tell("xdg-open handed the file over");
  return NoProcess;
}
