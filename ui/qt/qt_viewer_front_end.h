#pragma once
// The viewer run's desktop on Linux (Qt 6 Widgets on an XDG desktop): the password prompt
// (template 1027), the run's own boxes, the hand-over of the plaintext to the program the
// desktop associates with its type, and the association itself; the job's windows come
// from QtFrontEnd. Every operation runs on the GUI (main) thread; the QApplication must
// exist for the windows, not for the association.

#include <ostream>
#include <string>

#include "association/xdg_launch.h"
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
  bool AskPassword(std::string* typed) override;
  bool AskNewPassword(std::string* typed) override;
  void ShowViewerError(const char* message) override;
  void ShowViewerNotice(const char* message) override;
  // The file's MIME type (the shared MIME database) and its parents go to XdgLauncher,
  // which starts the type's default application and waits for it with the GUI thread's
  // events served.
  LaunchResult OpenPlaintext(const char* path, OpenWatch* watch) override;
  // The type from the shared MIME database (name and content); dangerous by
  // RunsCodeWhenOpened; the type's description and the name's extension.
  HandOverPlan PlanHandOver(const char* path) override;
  bool AskOpenDangerous(const std::string& name, const std::string& typeName) override;
  EditChoice AskAboutEdit(const std::string& name, const std::string& container, bool changed,
                          bool canSaveBack) override;
  InUseAnswer WaitWithInUseNotice(const std::string& name, const std::function<bool()>& released) override;
  void ServeFor(unsigned ms) override;
  void Log(const std::string& text) override { Say(text); }
  bool RegisterFileType() override;
  bool UnregisterFileType() override;

 private:
  void Say(const std::string& text);

  QtFrontEnd m_jobs;
  std::ostream* m_log = nullptr;
  XdgLauncher m_launcher;
  std::string m_plannedPath;         // the file PlanHandOver looked at
  std::vector<std::string> m_types;  // and its types, for OpenPlaintext
};
