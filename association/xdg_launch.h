#pragma once
// XDG desktops only. Hands a file to the program the desktop associates with its type
// and waits for it, with no toolkit: a caller with windows keeps them served through the
// serve callback, called every few tens of milliseconds while a child process runs.

#include <functional>
#include <string>
#include <vector>

#include "association/launch_result.h"
#include "association/xdg_applications.h"
#include "platform/file_watch.h"

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

// Whether a desktop would run code on opening a file of types (its MIME type, then those
// it is a kind of): the type or one of its kinds is a program, a script, a desktop entry,
// a shortcut or a package of another system, or application (the desktop entry found for
// it; may be empty) starts an interpreter or a runner of other systems' programs.
bool RunsCodeWhenOpened(const std::vector<std::string>& types, const std::string& application);

// The desktop entry of the default application of the first of types that has one, or "".
std::string ApplicationFor(const std::vector<std::string>& types, const XdgFolders& folders);

// Starts the default application for a file's type (types: its MIME type, then the types
// it is a kind of, most specific first; the first with a launchable default counts) from
// its desktop entry's Exec line, as a child process, and waits for it: ProcessEnded once
// it has ended (whether it opened the file is the caller's to tell). Without such an
// application, xdg-open is run and waited for: the program it found may run on after it,
// so that is NoProcess, and watch (may be null) forgets the opens made meanwhile, which
// were xdg-open's own look at the type. Failed when neither can start a program for the
// file. say (may be empty) is told what is done.
class XdgLauncher {
 public:
  LaunchResult Open(const std::string& path, const std::vector<std::string>& types, const XdgFolders& folders,
                    const ServeCallback& serve, const SayCallback& say, OpenWatch* watch);
};
