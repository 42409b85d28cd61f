#include "ui/qt/qt_viewer_front_end.h"

#include <fcntl.h>
#include <unistd.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QEventLoop>
#include <QtCore/QFile>
#include <QtCore/QMimeDatabase>
#include <QtCore/QTimer>

#include <climits>
#include <cstring>

#include "association/xdg_applications.h"
#include "association/xdg_association.h"
#include "crypto/secure.h"
#include "platform/file_ops.h"
#include "platform/language.h"
#include "platform/text.h"
#include "ui/qt/dialog_layout.h"
#include "ui/qt/error_box.h"
#include "ui/qt/password_prompt.h"
#include "ui/qt/view_questions.h"
#include "ui/viewer_text.h"

namespace {

// Runs the GUI thread's event loop for about ms milliseconds (0: what is pending).
void ServeEventsFor(int ms) {
  if (!QCoreApplication::instance()) {
    usleep(static_cast<useconds_t>(ms) * 1000);
    return;
  }
  if (ms == 0) {
    QCoreApplication::processEvents();
    return;
  }
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

QByteArray Resource(const char* name) {
  QFile file(QString::fromUtf8(name));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::string ToStd(const QByteArray& bytes) { return std::string(bytes.constData(), static_cast<size_t>(bytes.size())); }

std::string ProgramPath() {
  char path[PATH_MAX + 1] = {};
  const ssize_t n = readlink("/proc/self/exe", path, PATH_MAX);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

// The MIME type of the file and the types it is a kind of, most specific first; the
// type every file is a kind of ("application/octet-stream") is left out: a program that
// takes any bytes is not what the user associated with this one. The file is read here,
// by its own bytes: a name that is not UTF-8 would not survive a trip through QString.
std::vector<std::string> TypesOf(const std::string& path) {
  QByteArray head;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) {
    head.resize(4096);
    const ssize_t got = read(fd, head.data(), static_cast<size_t>(head.size()));
    head.resize(got > 0 ? static_cast<qsizetype>(got) : 0);
    close(fd);
  }
  const size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const QMimeType type = QMimeDatabase().mimeTypeForFileNameAndData(FromSystemText(name), head);
  std::vector<std::string> types{type.name().toStdString()};
  for (const QString& ancestor : type.allAncestors())
    if (ancestor != QStringLiteral("application/octet-stream")) types.push_back(ancestor.toStdString());
  return types;
}

}  // namespace

QtViewerFrontEnd::QtViewerFrontEnd() = default;

QtViewerFrontEnd::~QtViewerFrontEnd() = default;

void QtViewerFrontEnd::SetLog(std::ostream* log) {
  m_log = log;
  m_jobs.SetLog(log);
}

void QtViewerFrontEnd::Say(const std::string& text) {
  if (m_log) *m_log << "tarvessin-viewer: " << EscapeControls(text, true) << std::endl;
}

bool QtViewerFrontEnd::AskPassword(std::string* typed) {
  PasswordPrompt prompt;
  if (prompt.exec() != QDialog::Accepted) return false;
  typed->swap(prompt.m_typed);
  return true;
}

bool QtViewerFrontEnd::AskNewPassword(std::string* typed) {
  NewPasswordPrompt prompt;
  if (prompt.exec() != QDialog::Accepted) return false;
  typed->swap(prompt.m_typed);
  return true;
}

void QtViewerFrontEnd::ShowViewerError(const char* message) {
  Say(std::string("box \"") + Tr(kViewerCaption) + "\": " + message);
  ShowErrorBox(Tr(kViewerCaption), message);
}

HandOverPlan QtViewerFrontEnd::PlanHandOver(const char* path) {
  m_plannedPath = path;
  m_types = TypesOf(path);
  HandOverPlan plan;
  plan.dangerous = RunsCodeWhenOpened(m_types, ApplicationFor(m_types, XdgFoldersFromEnvironment()));
  const QMimeType type = QMimeDatabase().mimeTypeForName(QString::fromStdString(m_types.empty() ? "" : m_types[0]));
  const std::string name = path;
  const size_t slash = name.find_last_of('/'), dot = name.find_last_of('.');
  const std::string extension = dot != std::string::npos && (slash == std::string::npos || dot > slash)
                                    ? name.substr(dot) : std::string();
  plan.typeName = type.isValid() && !type.comment().isEmpty() ? type.comment().toStdString() : m_types[0];
  if (!extension.empty()) plan.typeName += ", " + extension;
  return plan;
}

LaunchResult QtViewerFrontEnd::OpenPlaintext(const char* path, OpenWatch* watch) {
  if (m_plannedPath != path) PlanHandOver(path);
  return m_launcher.Open(path, m_types, XdgFoldersFromEnvironment(), [] { ServeEventsFor(0); },
                         [this](const std::string& text) { Say(text); }, watch);
}

bool QtViewerFrontEnd::AskOpenDangerous(const std::string& name, const std::string& typeName) {
  Say("question: " + name + " runs code when opened (" + typeName + ")");
  const bool open = AskOpenDangerousType(name, typeName);
  Say(open ? "answer: open" : "answer: do not open");
  return open;
}

EditChoice QtViewerFrontEnd::AskAboutEdit(const std::string& name, const std::string& container, bool changed,
                                          bool canSaveBack) {
  Say("question: " + name + (changed ? " was changed" : " appeared in the working folder"));
  const EditChoice choice = AskAboutEditedFile(name, container, changed, canSaveBack);
  Say(choice == EditChoice::SaveBack ? "answer: save back" : choice == EditChoice::KeepBeside ? "answer: keep beside"
                                                                                              : "answer: discard");
  return choice;
}

InUseAnswer QtViewerFrontEnd::WaitWithInUseNotice(const std::string& name, const std::function<bool()>& released) {
  Say("notice: " + name + " is still in use");
  const InUseAnswer answer = ShowInUseNotice(name, released);
  Say(answer == InUseAnswer::Released ? "notice closed: released"
      : answer == InUseAnswer::DeleteNow ? "answer: delete now" : "answer: keep waiting");
  return answer;
}

void QtViewerFrontEnd::ShowViewerNotice(const char* message) {
  Say(std::string("notice \"") + Tr(kViewerCaption) + "\": " + message);
  ShowInformationBox(Tr(kViewerCaption), message);
}

void QtViewerFrontEnd::ServeFor(unsigned ms) { ServeEventsFor(static_cast<int>(ms)); }

bool QtViewerFrontEnd::RegisterFileType() {
  XdgRegistration registration;
  registration.programPath = ProgramPath();
  registration.mimePackage = ToStd(Resource(":/tarvessin-viewer.xml"));
  registration.desktopTemplate = ToStd(Resource(":/tarvessin-viewer.desktop.in"));
  registration.icons = {{16, ToStd(Resource(":/tarvessin-viewer-16.png"))},
                        {32, ToStd(Resource(":/tarvessin-viewer-32.png"))}};
  for (const char* menu : kFileManagerMenus)
    registration.menuTemplates.push_back(ToStd(Resource((std::string(":/") + menu + ".in").c_str())));
  registration.englishScriptNames = UserLanguage() == Language::English;
  return RegisterXdgFileType(XdgFoldersFromEnvironment(), registration, m_log);
}

bool QtViewerFrontEnd::UnregisterFileType() { return UnregisterXdgFileType(XdgFoldersFromEnvironment(), m_log); }
