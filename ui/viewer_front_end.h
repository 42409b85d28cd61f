#pragma once
// What the viewer run (app/) needs from the desktop it runs on: its windows, the hand-over
// of a plaintext to the program associated with its type, and the file-type association.
// The run itself is written once; each desktop supplies one of these (ui/win32/ today).
// Every operation is called on the run's (main) thread.

#include <cstddef>
#include <functional>
#include <string>

#include "association/launch_result.h"
#include "container/file_list.h"
#include "container/front_end.h"
#include "platform/file_watch.h"

// What the desktop would do with a file handed to it: whether it counts the file's type
// among those that run code when opened, and that type's name for the question.
struct HandOverPlan {
  bool dangerous = false;
  std::string typeName;  // the desktop's name for the type, and the name's extension
};

// What becomes of a file the user changed (or made) in the working folder.
enum class EditChoice {
  SaveBack,    // encrypted again into the container, with the password that opened it
  KeepBeside,  // moved beside the container, under a free name
  Discard,     // removed
};

// How the wait for a file still in use ended.
enum class InUseAnswer {
  Released,     // no program has it open any more
  DeleteNow,    // the user asked for it to be deleted now
  KeepWaiting,  // the user chose to wait on, without the notice
};

class ViewerFrontEnd {
 public:
  virtual ~ViewerFrontEnd() = default;

  // The engines' side of the run's job: its progress window and error boxes.
  virtual FrontEnd& JobFrontEnd() = 0;

  // Asks once for the password, modally and without a parent. True after OK with all
  // that was typed in *typed (UTF-8, never empty): which bytes it stands for is the
  // password rule's (OpeningCandidates), not the prompt's. False after Cancel, Escape or
  // closing. The caller wipes the text.
  virtual bool AskPassword(std::string* typed) = 0;

  // The encryption road's prompt, in the style of AskPassword's: the password, its
  // confirmation, and a line that says what counts of what is typed (NewPasswordHint,
  // kept up to date as the user types). OK with two different entries says so
  // (kPasswordsDiffer) and asks again; OK with an empty one does nothing. True after OK
  // with what was typed, as AskPassword gives it; false after Cancel.
  virtual bool AskNewPassword(std::string* typed) = 0;

  // The run's own error notice (caption kViewerCaption, one OK button, no owner); returns
  // when the user has dismissed it.
  virtual void ShowViewerError(const char* message) = 0;
  // The same for news that is no failure (what a run made), with the information icon.
  virtual void ShowViewerNotice(const char* message) = 0;

  // Hands the file to the program the desktop associates with its type, to be opened and
  // shown. When that starts a process, waits until the process has ended, keeping the
  // thread's windows served meanwhile. watch (may be null) is the run's watch on who
  // opens the file: a launcher that read the file itself only to tell its type (and
  // handed it on) makes the watch forget those opens, so they are not taken for the
  // program's.
  virtual LaunchResult OpenPlaintext(const char* path, OpenWatch* watch) = 0;

  // Before OpenPlaintext, for the same file: what the desktop would do with it. Reads the
  // file where the type is told by its content, so that this reading is over before the
  // run starts watching who opens the file.
  virtual HandOverPlan PlanHandOver(const char* path) = 0;

  // The type of name (a plaintext) is one that runs code when opened: asks whether to
  // open it all the same, naming the type; "Do not open" is the default and what closing
  // the question means. True only when the user chose to open it.
  virtual bool AskOpenDangerous(const std::string& name, const std::string& typeName) = 0;

  // A file in the working folder that the user changed (changed true: the plaintext of
  // container) or that a program made there (changed false). Asks what becomes of it;
  // SaveBack is offered only when canSaveBack. Closing the question keeps the file beside
  // the container: nothing is lost by it.
  virtual EditChoice AskAboutEdit(const std::string& name, const std::string& container, bool changed,
                                  bool canSaveBack) = 0;

  // Shows a small window saying that name is still in use, with "Delete now" and "Keep
  // waiting", and keeps it until the user answers or released() (called every few tenths
  // of a second, on this thread) says that no program has the file open any more.
  virtual InUseAnswer WaitWithInUseNotice(const std::string& name, const std::function<bool()>& released) = 0;

  // Keeps the thread's windows served for about ms milliseconds, without spinning.
  virtual void ServeFor(unsigned ms) = 0;

  // Says what the run does, where the desktop keeps such a record (a --verbose log).
  virtual void Log(const std::string& /*text*/) {}

  // The switch road: records or removes the desktop's association of containers with
  // the viewer. False when the desktop reported a failure (the run's exit status says
  // so).
  virtual bool RegisterFileType() = 0;
  virtual bool UnregisterFileType() = 0;
};
