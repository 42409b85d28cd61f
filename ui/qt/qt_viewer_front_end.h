#pragma once
// The viewer run's desktop on Linux (Qt 6 Widgets on an XDG desktop): the password prompt
// (template 1027), the run's own boxes, the hand-over of the plaintext to the program the
// desktop associates with its type, and the association itself; the job's windows come
// from QtFrontEnd. Every operation runs on the GUI (main) thread; the QApplication must
// exist for the windows, not for the association.

#include <QtCore/QElapsedTimer>

#include <ostream>
#include <string>

#include "ui/qt/qt_front_end.h"
#include "ui/viewer_front_end.h"

class QtViewerFrontEnd : public ViewerFrontEnd {
 public:
  QtViewerFrontEnd();
  ~QtViewerFrontEnd() override;

  // With a log (--verbose), says there what it does: registration, the program the
  // plaintext goes to and how, every box's text.
  void SetLog(std::ostream* log);

  FrontEnd& JobFrontEnd() override { return m_jobs; }
  bool AskPassword(char (&password)[kPromptPasswordSize]) override;
  // When the typed text is not ASCII, fails the first container's key-block check and its
  // code page 949 form (as a Korean Windows prompt takes it) opens it, the files are
  // decrypted with that form.
  void ChoosePasswordForm(const FileList& files, char (&password)[kPromptPasswordSize]) override;
  void ShowViewerError(const char* message) override;
  // The default application for the file's MIME type (shared MIME database; mimeapps.list
  // and the desktop database as `xdg-mime query default` resolves them, then the type's
  // parents) is started on it as a child process, and waited for with the GUI thread's
  // events served: ProcessEnded when some process opened the file while it ran;
  // NoProcess when none did (it handed the file to an instance already running, which
  // opens it later). Without such an application, xdg-open is run and waited for: the
  // program it found may run on after it, so that is NoProcess too. Failed when neither
  // can start a program for the file.
  LaunchResult OpenPlaintext(const char* path) override;
  // After NoProcess: until a process opens the file or has opened it since the launcher
  // ended (at most 30 seconds), then for as long as any process holds it open (testing
  // /proc every 250 ms), serving events throughout.
  void WaitForHandOff() override;
  void DrainEvents() override;
  void RegisterFileType() override;
  void UnregisterFileType() override;

 private:
  // Runs argv as a child process, waiting with events served; false when it could not
  // be started. *exitCode is its exit status (-1 when it crashed).
  bool RunAndWait(const std::vector<std::string>& argv, int* exitCode);
  void Say(const std::string& text);

  QtFrontEnd m_jobs;
  std::ostream* m_log = nullptr;
  std::string m_cp949Form;  // of the last accepted password
  std::string m_launched;   // the plaintext handed over last
  int m_watch = -1;         // inotify descriptor watching it for opens
};
