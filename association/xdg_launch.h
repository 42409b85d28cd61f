#pragma once
// XDG desktops only. Hands a file to the program the desktop associates with its type
// and waits for it, with no toolkit: a caller with windows keeps them served through the
// serve callback, called every few tens of milliseconds while a child process runs.

#include <functional>
#include <string>
#include <vector>

#include "association/launch_result.h"
#include "association/xdg_applications.h"

using ServeCallback = std::function<void()>;
using SayCallback = std::function<void(const std::string&)>;

// Where a child process's standard output and error go.
enum class ChildOutput {
  Inherited,  // this process's own
  ToStderr,   // both to this process's standard error
  Discarded,  // /dev/null
};

// Runs argv (the program found through $PATH when it holds no '/') with standard input
// from /dev/null and waits until it has ended, calling serve (when given) meanwhile.
// False when it could not be started; *exitCode is its exit status, -1 when a signal
// ended it.
bool RunAndWait(const std::vector<std::string>& argv, ChildOutput output, const ServeCallback& serve,
                int* exitCode);

class XdgLauncher {
 public:
  XdgLauncher() = default;
  ~XdgLauncher();
  XdgLauncher(const XdgLauncher&) = delete;
  XdgLauncher& operator=(const XdgLauncher&) = delete;

  // Starts the default application for the file's type (types: its MIME type, then the
  // types it is a kind of, most specific first; the first with a launchable default
  // counts) from its desktop entry's Exec line, as a child process, and waits for it:
  // ProcessEnded when some process opened the file while it ran; NoProcess when none did
  // (it handed the file to an instance already running, which opens it later). Without
  // such an application, xdg-open is run and waited for: the program it found may run on
  // after it, so that is NoProcess too. Failed when neither can start a program for the
  // file. say (may be empty) is told what is done.
  LaunchResult Open(const std::string& path, const std::vector<std::string>& types, const XdgFolders& folders,
                    const ServeCallback& serve, const SayCallback& say);

  // After Open: whether some process has opened the file since the last look (or, for
  // the first look, since the launcher ended). False when opens cannot be watched.
  bool OpenedSinceLastLook();

 private:
  void StopWatching();
  int m_watch = -1;  // inotify descriptor reporting the file's opens
};
