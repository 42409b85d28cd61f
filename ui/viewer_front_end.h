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

// The password prompt's buffer: at most 11 bytes of password, its terminator and a spare
// zero byte.
constexpr size_t kPromptPasswordSize = kPromptPasswordBytes + 2;

class ViewerFrontEnd {
 public:
  virtual ~ViewerFrontEnd() = default;

  // The engines' side of the run's job: its progress window and error boxes.
  virtual FrontEnd& JobFrontEnd() = 0;

  // Asks once for the password, modally and without a parent. True after OK with the
  // accepted text zero-terminated in password: the bytes this system hashes what was
  // typed as, at most 11 of them and never half a character (TypedPasswordBytes), never
  // empty; and in cp949Form the same text's code page 949 form (Cp949PasswordBytes), the
  // one containers made on Korean Windows were keyed with, where it differs, else "".
  // False after Cancel, Escape or closing, password then all zero.
  virtual bool AskPassword(char (&password)[kPromptPasswordSize], std::string* cp949Form) = 0;

  // The encryption road's prompt, in the style of AskPassword's: the password, its
  // confirmation, and a line saying that only the first 11 bytes count. OK with two
  // different entries says so (kPasswordsDiffer) and asks again; OK with an empty one
  // does nothing. True after OK with the password as AskPassword gives it (no other
  // form: a container is keyed with this system's bytes); false after Cancel.
  virtual bool AskNewPassword(char (&password)[kPromptPasswordSize]) = 0;

  // The run's own error notice (caption kViewerCaption, one OK button, no owner); returns
  // when the user has dismissed it.
  virtual void ShowViewerError(const char* message) = 0;

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
