#pragma once
// What the viewer run (app/) needs from the desktop it runs on: its windows, the hand-over
// of a plaintext to the program associated with its type, and the file-type association.
// The run itself is written once; each desktop supplies one of these (ui/win32/ today).
// Every operation is called on the run's (main) thread.

#include <cstddef>
#include <string>

#include "association/launch_result.h"
#include "container/file_list.h"
#include "container/front_end.h"

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
  // thread's windows served meanwhile.
  virtual LaunchResult OpenPlaintext(const char* path) = 0;

  // After NoProcess: whether the desktop saw some program open the file handed over
  // since the launch (false where it cannot tell: the run then looks for holders itself).
  virtual bool OpenedSinceLaunch() { return false; }

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
