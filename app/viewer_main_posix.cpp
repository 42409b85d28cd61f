// The Linux desktop program's entry: tarvessin-viewer on Qt 6 Widgets. The one ViewerApp,
// with the Qt desktop, exists before the run and is destroyed after it has returned (its
// destructor shuts the job runner down). The shell has split the arguments already; the
// run filters out names that do not exist, as on Windows.

#include <QtWidgets/QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/viewer_app.h"
#include "platform/text.h"
#include "qv3_version.h"
#include "ui/qt/qt_viewer_front_end.h"

namespace {

const char kUsage[] =
    "Usage: tarvessin-viewer [--verbose] [--] CONTAINER...\n"
    "       tarvessin-viewer [--verbose] --decrypt-here [--] CONTAINER...\n"
    "       tarvessin-viewer [--verbose] --encrypt [--] FILE...\n"
    "       tarvessin-viewer [--verbose] /RegServer | --register\n"
    "       tarvessin-viewer [--verbose] /UnRegServer | --unregister\n"
    "\n"
    "Opens password-protected containers (*.aqv3 and the category extensions). Asks once\n"
    "for the password. One container is decrypted into the working folder\n"
    "($XDG_RUNTIME_DIR/QV3V), opened with the program the desktop associates with its\n"
    "type, and deleted once that program has let go of it. Several are decrypted beside\n"
    "themselves, read-only, and nothing is opened. Names that do not exist are passed over.\n"
    "\n"
    "--decrypt-here              (\"Decrypt here\") every container beside itself, even one\n"
    "--encrypt                   (\"Encrypt with password...\") asks for a password twice,\n"
    "                            then makes a container beside every file (NAME.aqv3),\n"
    "                            never over an existing file; a folder is refused, and\n"
    "                            what failed is listed at the end\n"
    "/RegServer, --register      associate the containers with this program for the\n"
    "                            current user (MIME type, desktop entry, icon, default),\n"
    "                            and add the two roads above to the file managers' menus\n"
    "                            (a Dolphin service menu, Nemo actions, Nautilus scripts)\n"
    "/UnRegServer, --unregister  remove exactly what --register installed\n"
    "--verbose                   say on standard error what is done (the association's\n"
    "                            files, the program the plaintext goes to, every box)\n"
    "--version                   the version\n"
    "\n"
    "Exit status: 0 when everything asked was done, 1 when a failure was shown, the user\n"
    "cancelled or there is no display, 2 for a usage error.\n";

enum class Switch { None, Register, Unregister, Encrypt, DecryptHere };

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  Switch selected = Switch::None;
  bool verbose = false, options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (options && argument == "--") {
      options = false;
    } else if (options && (argument == "--help" || argument == "-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (options && argument == "--version") {
      std::printf("tarvessin-viewer %s\n", QV3_VERSION_TEXT);
      return 0;
    } else if (options && argument == "--verbose") {
      verbose = true;
    } else if (options && (CompareIgnoringAsciiCase(argv[i], "/RegServer") == 0 || argument == "--register")) {
      selected = Switch::Register;
    } else if (options && (CompareIgnoringAsciiCase(argv[i], "/UnRegServer") == 0 || argument == "--unregister")) {
      selected = Switch::Unregister;
    } else if (options && (CompareIgnoringAsciiCase(argv[i], "/Encrypt") == 0 || argument == "--encrypt")) {
      selected = Switch::Encrypt;
    } else if (options &&
               (CompareIgnoringAsciiCase(argv[i], "/DecryptHere") == 0 || argument == "--decrypt-here")) {
      selected = Switch::DecryptHere;
    } else if (options && argument.size() > 1 && argument[0] == '-') {
      std::fprintf(stderr, "tarvessin-viewer: unknown option %s\n\n%s", argv[i], kUsage);
      return 2;
    } else {
      files.push_back(argument);
    }
  }
  const bool road = selected == Switch::None || selected == Switch::Encrypt || selected == Switch::DecryptHere;
  if (!road && !files.empty()) {
    std::fprintf(stderr, "tarvessin-viewer: a switch takes no files\n\n%s", kUsage);
    return 2;
  }

  // Only the windows need a display: the switches work without one. Without one Qt
  // would abort; the user hears why instead.
  std::optional<QApplication> application;
  if (road) {
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) {
      std::fputs("tarvessin-viewer: no display to show windows on (neither DISPLAY nor WAYLAND_DISPLAY is set)\n",
                 stderr);
      return 1;
    }
    application.emplace(argc, argv);
  }
  QtViewerFrontEnd desktop;
  if (verbose) desktop.SetLog(&std::cerr);
  ViewerApp viewer(desktop);
  switch (selected) {
    case Switch::Register: viewer.RegisterFileType(); break;
    case Switch::Unregister: viewer.UnregisterFileType(); break;
    case Switch::Encrypt: viewer.RunEncrypt(files); break;
    case Switch::DecryptHere: viewer.RunDecryptHere(files); break;
    case Switch::None: viewer.RunOnArguments(files); break;
  }
  return viewer.ExitStatus();
}
