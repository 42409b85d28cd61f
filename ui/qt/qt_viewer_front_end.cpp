#include "ui/qt/qt_viewer_front_end.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QEventLoop>
#include <QtCore/QFile>
#include <QtCore/QMimeDatabase>
#include <QtCore/QProcess>
#include <QtCore/QTimer>

#include <climits>
#include <cstring>

#include "association/xdg_applications.h"
#include "association/xdg_association.h"
#include "container/password_choice.h"
#include "crypto/secure.h"
#include "platform/file_ops.h"
#include "ui/qt/dialog_layout.h"
#include "ui/qt/error_box.h"
#include "ui/qt/password_form.h"
#include "ui/qt/password_prompt.h"
#include "ui/viewer_text.h"

namespace {

// How long the road without a process waits for a program to take the file.
constexpr qint64 kHandOffWaitMs = 30000;

void Wipe(std::string& secret) {
  if (!secret.empty()) SecureWipe(&secret[0], secret.size());
  secret.clear();
}

// Runs the GUI thread's event loop for about ms milliseconds.
void ServeFor(int ms) {
  if (!QCoreApplication::instance()) {
    usleep(static_cast<useconds_t>(ms) * 1000);
    return;
  }
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

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
bool OpenedSinceLastLook(int fd) {
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
// takes any bytes is not what the user associated with this one.
std::vector<std::string> TypesOf(const std::string& path) {
  const QMimeType type = QMimeDatabase().mimeTypeForFile(FromSystemText(path));
  std::vector<std::string> types{type.name().toStdString()};
  for (const QString& ancestor : type.allAncestors())
    if (ancestor != QStringLiteral("application/octet-stream")) types.push_back(ancestor.toStdString());
  return types;
}

std::string Joined(const std::vector<std::string>& argv) {
  std::string text;
  for (const std::string& argument : argv) text += (text.empty() ? "" : " ") + ExecArgument(argument);
  return text;
}

}  // namespace

QtViewerFrontEnd::QtViewerFrontEnd() = default;

QtViewerFrontEnd::~QtViewerFrontEnd() {
  Wipe(m_cp949Form);
  if (m_watch >= 0) close(m_watch);
}

void QtViewerFrontEnd::SetLog(std::ostream* log) {
  m_log = log;
  m_jobs.SetLog(log);
}

void QtViewerFrontEnd::Say(const std::string& text) {
  if (m_log) *m_log << "tarvessin-viewer: " << text << std::endl;
}

bool QtViewerFrontEnd::AskPassword(char (&password)[kPromptPasswordSize]) {
  std::memset(password, 0, sizeof password);
  Wipe(m_cp949Form);
  PasswordPrompt prompt;
  if (prompt.exec() != QDialog::Accepted) return false;
  std::memcpy(password, prompt.m_password, sizeof password);
  m_cp949Form = prompt.m_cp949Form;
  return true;
}

void QtViewerFrontEnd::ChoosePasswordForm(const FileList& files, char (&password)[kPromptPasswordSize]) {
  const std::vector<std::string> paths(files.begin(), files.end());
  if (!m_cp949Form.empty() && AlternateOpensFirstContainer(paths, password, std::strlen(password), m_cp949Form.data(),
                                                           m_cp949Form.size())) {
    std::memset(password, 0, sizeof password);
    std::memcpy(password, m_cp949Form.data(), m_cp949Form.size());
    Say("the password opens the files as code page 949 text (typed on a Korean Windows system)");
  }
  Wipe(m_cp949Form);
}

void QtViewerFrontEnd::ShowViewerError(const char* message) {
  Say(std::string("box \"") + kViewerCaption + "\": " + message);
  ShowErrorBox(kViewerCaption, message);
}

bool QtViewerFrontEnd::RunAndWait(const std::vector<std::string>& argv, int* exitCode) {
  QProcess process;
  process.setProgram(QString::fromStdString(argv[0]));
  QStringList arguments;
  for (size_t i = 1; i < argv.size(); ++i) arguments << QString::fromStdString(argv[i]);
  process.setArguments(arguments);
  process.setProcessChannelMode(QProcess::ForwardedChannels);
  process.setStandardInputFile(QProcess::nullDevice());
  process.start();
  if (!process.waitForStarted(-1)) return false;
  if (process.state() != QProcess::NotRunning) {
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    loop.exec();
  }
  *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  return true;
}

LaunchResult QtViewerFrontEnd::OpenPlaintext(const char* path) {
  m_launched = path;
  if (m_watch >= 0) close(m_watch);
  m_watch = -1;

  const XdgFolders folders = XdgFoldersFromEnvironment();
  const std::vector<std::string> types = TypesOf(m_launched);
  std::string application;
  for (const std::string& type : types) {
    application = DefaultApplication(folders, type);
    if (!application.empty()) {
      Say(m_launched + " is " + types[0] + ": the default application for " + type + " is " + application);
      break;
    }
  }

  // Set after the type was found (that read the file), before anything is started.
  m_watch = WatchOpens(m_launched);
  DesktopEntry entry;
  std::vector<std::string> argv;
  int exitCode = 0;
  if (!application.empty() && ReadDesktopEntry(application, &entry) && LaunchCommand(entry, m_launched, &argv)) {
    Say("starting " + Joined(argv));
    if (RunAndWait(argv, &exitCode)) {
      // No watch: as if the program had the file, the road that waits for it to let go.
      const bool opened = m_watch < 0 || OpenedSinceLastLook(m_watch);
      Say("the program ended (status " + std::to_string(exitCode) + "); " +
          (opened ? "it had the file open" : "the file was not opened: handed over to another instance"));
      return opened ? ProcessEnded : NoProcess;
    }
    Say("cannot start " + argv[0]);
  } else {
    Say("no application is associated with " + types[0]);
  }

  if (!ProgramExists("xdg-open")) return Failed;
  Say("starting xdg-open " + ExecArgument(m_launched));
  if (!RunAndWait({"xdg-open", m_launched}, &exitCode) || exitCode != 0) {
    Say("xdg-open found no program for it (status " + std::to_string(exitCode) + ")");
    return Failed;
  }
  // What opened the file while xdg-open ran was its own probing of the type.
  if (m_watch >= 0) OpenedSinceLastLook(m_watch);
  Say("xdg-open handed the file over");
  return NoProcess;
}

void QtViewerFrontEnd::WaitForHandOff() {
  QElapsedTimer waited;
  waited.start();
  bool taken = false;
  while (!taken && waited.elapsed() < kHandOffWaitMs) {
    taken = (m_watch >= 0 && OpenedSinceLastLook(m_watch)) || IsFileOpen(m_launched.c_str());
    if (!taken) ServeFor(100);
  }
  Say(taken ? "a program took the file; waiting until no process has it open"
            : "no program took the file within " + std::to_string(kHandOffWaitMs / 1000) + " s");
  while (IsFileOpen(m_launched.c_str())) ServeFor(250);
  if (m_watch >= 0) close(m_watch);
  m_watch = -1;
}

void QtViewerFrontEnd::DrainEvents() {
  if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents, 1000);
}

void QtViewerFrontEnd::RegisterFileType() {
  XdgRegistration registration;
  registration.programPath = ProgramPath();
  registration.mimePackage = ToStd(Resource(":/tarvessin-viewer.xml"));
  registration.desktopTemplate = ToStd(Resource(":/tarvessin-viewer.desktop.in"));
  registration.icons = {{16, ToStd(Resource(":/tarvessin-viewer-16.png"))},
                        {32, ToStd(Resource(":/tarvessin-viewer-32.png"))}};
  RegisterXdgFileType(XdgFoldersFromEnvironment(), registration, m_log);
}

void QtViewerFrontEnd::UnregisterFileType() { UnregisterXdgFileType(XdgFoldersFromEnvironment(), m_log); }
