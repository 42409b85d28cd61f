// The Linux desktop program's entry: tarvessin-viewer on Qt 6 Widgets. The one ViewerApp,
// with the Qt desktop, exists before the run and is destroyed after it has returned (its
// destructor shuts the job runner down). The shell has split the arguments already; the
// run filters out names that do not exist, as on Windows.

#include <QtCore/QTimer>
#include <QtWidgets/QApplication>
#include <QtWidgets/QDialog>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/viewer_app.h"
#include "association/xdg_applications.h"
#include "platform/catalog.h"
#include "platform/console.h"
#include "platform/text.h"
#include "qv3_version.h"
#include "ui/qt/qt_viewer_front_end.h"

namespace {

// The help, in Korean; its English is in po/en.po.
const char kUsage[] = N_(
    "사용법: tarvessin-viewer [--verbose] [--] 암호파일...\n"
    "        tarvessin-viewer [--verbose] --decrypt-here [--] 암호파일...\n"
    "        tarvessin-viewer [--verbose] --encrypt [--] 파일...\n"
    "        tarvessin-viewer [--verbose] /RegServer | --register\n"
    "        tarvessin-viewer [--verbose] /UnRegServer | --unregister\n"
    "\n"
    "암호로 보호된 암호 파일(*.aqv3 와 종류별 확장자)을 엽니다. 암호는 한 번만 묻습니다.\n"
    "암호 파일이 하나면 작업 폴더($XDG_RUNTIME_DIR/QV3V)에 풀어 그 종류에 연결된\n"
    "프로그램으로 열고, 그 프로그램이 파일을 놓으면 지웁니다. 여러 개면 각각 제자리에\n"
    "읽기 전용으로 풀고 아무것도 열지 않으며, 첫 실패에서 멈춥니다. 열 수 없는 이름(없는\n"
    "파일, 폴더, 암호 파일이 아닌 것)은 암호를 묻기 전에 알리고 뺍니다.\n"
    "\n"
    "--decrypt-here              (\"여기에 풀기\") 하나라도 모든 암호 파일을 제자리에 풉니다.\n"
    "                            폴더는 그 안의 모든 암호 파일을 뜻합니다 (qv3(1) 의 -r 과\n"
    "                            같은 규칙). 실패는 건너뛰고 끝에 모아 알리며, 잘되면 푼\n"
    "                            것과 건너뛴 것을 알립니다\n"
    "--encrypt                   (\"암호 파일로 만들기…\") 암호를 두 번 묻고, 파일마다 옆에\n"
    "                            암호 파일(이름.aqv3)을 만듭니다. 있는 파일은 덮어쓰지\n"
    "                            않습니다. 폴더는 그 안의 모든 파일을 뜻하며, 링크, 특수\n"
    "                            파일, 다른 파일 시스템과 이미 암호 파일인 파일은\n"
    "                            건너뜁니다. 진행 창 하나가 실행 전체를 보이고, 실패한\n"
    "                            것은 끝에 모아 알립니다. 잘되면 만든 것을 알립니다\n"
    "--uris                      파일을 file:// URI 로 받습니다 (Nemo 동작이 주는 대로)\n"
    "/RegServer, --register      이 사용자에게 암호 파일을 이 프로그램과 연결하고\n"
    "                            (MIME 형식, 데스크톱 항목, 아이콘, 기본 프로그램),\n"
    "                            --encrypt 와 --decrypt-here 를 파일 관리자 메뉴에 더합니다\n"
    "                            (Dolphin 서비스 메뉴, Nemo 동작, Nautilus 스크립트)\n"
    "/UnRegServer, --unregister  --register 가 설치한 것만 정확히 지웁니다\n"
    "--verbose                   하는 일을 표준 오류에 알립니다 (연결 파일, 평문을 넘기는\n"
    "                            프로그램, 모든 알림 상자)\n"
    "--version                   버전\n"
    "\n"
    "SIGHUP, SIGQUIT, SIGTERM 은 취소 단추와 같습니다: 처리 중인 파일은 남지 않습니다.\n"
    "\n"
    "종료 상태: 요청한 일을 모두 했으면 0, 실패를 알렸거나 사용자가 취소했거나 화면이\n"
    "없으면 1, 사용법 오류(열 수 있는 이름이 하나도 없음 포함)는 2.\n");

enum class Switch { None, Register, Unregister, Encrypt, DecryptHere };

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  Switch selected = Switch::None;
  bool verbose = false, options = true, uris = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (options && argument == "--") {
      options = false;
    } else if (options && (argument == "--help" || argument == "-h")) {
      std::fputs(Tr(kUsage), stdout);
      return 0;
    } else if (options && argument == "--version") {
      std::printf("tarvessin-viewer %s\n", QV3_VERSION_TEXT);
      return 0;
    } else if (options && argument == "--verbose") {
      verbose = true;
    } else if (options && argument == "--uris") {
      uris = true;
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
      std::fprintf(stderr, Tr("tarvessin-viewer: 알 수 없는 옵션 %s\n\n%s"), argv[i], Tr(kUsage));
      return 2;
    } else {
      files.push_back(argument);
    }
  }
  // Nemo hands its actions the selection as file:// URLs; each names one local file. One
  // that does not (another scheme, a malformed one) is kept as given and so names no file.
  if (uris) {
    for (std::string& file : files) {
      std::string path;
      if (PathFromFileUrl(file, &path)) file = path;
    }
  }
  const bool road = selected == Switch::None || selected == Switch::Encrypt || selected == Switch::DecryptHere;
  if (!road && !files.empty()) {
    std::fprintf(stderr, Tr("tarvessin-viewer: 이 스위치에는 파일을 줄 수 없습니다\n\n%s"), Tr(kUsage));
    return 2;
  }

  // Only the windows need a display: the switches work without one. Without one Qt
  // would abort; the user hears why instead.
  std::optional<QApplication> application;
  if (road) {
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) {
      std::fputs(Tr("tarvessin-viewer: 창을 보일 화면이 없습니다 (DISPLAY 도 WAYLAND_DISPLAY 도 없습니다)\n"),
                 stderr);
      return 1;
    }
    application.emplace(argc, argv);
    // A hang-up, quit or terminate is a Cancel: the job in progress stops and leaves
    // nothing behind, and a question open is answered as its Cancel would answer it.
    InstallInterruptHandler();
    auto* watch = new QTimer(&*application);
    QObject::connect(watch, &QTimer::timeout, [] {
      if (!InterruptRequested()) return;
      if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) dialog->reject();
    });
    watch->start(100);
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
