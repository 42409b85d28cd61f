#include "association/xdg_launch.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace {

constexpr useconds_t kPollMicroseconds = 20000;

// An inotify descriptor reporting every open of path from now on; -1 when none can be
// had.
int WatchOpens(const std::string& path) {
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return -1;
  if (inotify_add_watch(fd, path.c_str(), IN_OPEN) < 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Whether the watched file was opened since the last look; consumes the reports.
bool Opened(int fd) {
  bool opened = false;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      opened = opened || (event->mask & IN_OPEN) != 0;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  return opened;
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

XdgLauncher::~XdgLauncher() { StopWatching(); }

void XdgLauncher::StopWatching() {
  if (m_watch >= 0) close(m_watch);
  m_watch = -1;
}

bool XdgLauncher::OpenedSinceLastLook() { return m_watch >= 0 && Opened(m_watch); }

LaunchResult XdgLauncher::Open(const std::string& path, const std::vector<std::string>& types,
                               const XdgFolders& folders, const ServeCallback& serve, const SayCallback& say) {
  auto tell = [&](const std::string& text) {
    if (say) say(text);
  };
  StopWatching();
  const std::string type = types.empty() ? std::string("application/octet-stream") : types[0];
  std::string application;
  for (const std::string& candidate : types) {
    application = DefaultApplication(folders, candidate);
    if (!application.empty()) {
      tell(path + " is " + type + ": the default application for " + candidate + " is " + application);
      break;
    }
  }

  // Set before anything is started (finding the type has read the file already).
  m_watch = WatchOpens(path);
  DesktopEntry entry;
  std::vector<std::string> argv;
  int exitCode = 0;
  if (!application.empty() && ReadDesktopEntry(application, &entry) && LaunchCommand(entry, path, &argv)) {
    tell("starting " + Joined(argv));
    if (RunAndWait(argv, ChildOutput::Inherited, serve, &exitCode)) {
      // No watch: as if the program had the file, the road that waits for it to let go.
      const bool opened = m_watch < 0 || Opened(m_watch);
      tell("the program ended (status " + std::to_string(exitCode) + "); " +
           (opened ? "it had the file open" : "the file was not opened: handed over to another instance"));
      return opened ? ProcessEnded : NoProcess;
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
  // What opened the file while xdg-open ran was its own probing of the type.
  if (m_watch >= 0) Opened(m_watch);
  tell("xdg-open handed the file over");
  return NoProcess;
}
