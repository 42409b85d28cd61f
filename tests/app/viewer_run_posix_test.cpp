// The viewer run on this system, through a scripted desktop: its roads, the plaintext's
// hand-over and removal, the mark it keeps on its plaintext and the clean-up at start.
// The working folder is redirected into a scratch folder through the session's runtime
// folder, which only this system's working folder follows (on Windows the GUI test runs
// the real program instead).
#ifndef _WIN32

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/stale_plaintexts.h"
#include "app/viewer_app.h"
#include "platform/file_handle.h"
#include "platform/file_ops.h"
#include "platform/lock_file.h"
#include "platform/system_error.h"
#include "platform/thread.h"
#include "platform/working_folder.h"
#include "tests/app/scripted_desktop.h"
#include "tests/engine_fixture.h"
#include "ui/viewer_text.h"

using namespace testutil;

namespace {

const char kPassword[] = "abcdefghijk";

class ViewerRun : public testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    if (old) m_oldRuntime = old;
    chmod(m_runtime.path().c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", m_runtime.path().c_str(), 1);
    m_working = WorkingFolder();
    ASSERT_EQ(m_working, m_runtime / "QV3V");
    ASSERT_EQ(CreateFolder(m_working.c_str()), 0u);
  }
  void TearDown() override {
    if (m_oldRuntime)
      setenv("XDG_RUNTIME_DIR", m_oldRuntime->c_str(), 1);
    else
      unsetenv("XDG_RUNTIME_DIR");
  }

  // A container of name (plus ".aqv3") in the scratch folder, made by the encryption
  // engine with the password; returns its path.
  std::string Container(const std::string& name) {
    WriteBytes(m_files / name, Plaintext(name));
    RecordingUi ui;
    JobRunner runner(ui);
    FileList* list = new FileList;
    list->Append(m_files / name);
    runner.RunJob(list, Flags(true, true, false), kPassword);
    EXPECT_TRUE(ui.errors.empty());
    return m_files / (name + ".aqv3");
  }
  static std::vector<uint8_t> Plaintext(const std::string& name) {
    std::vector<uint8_t> bytes(name.begin(), name.end());
    const auto tail = RandomBytes(5000, static_cast<uint32_t>(name.size()));
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
  }

  // Runs the viewer on the arguments, or on the command line's tail when one is given,
  // after leaving a stale plaintext of a dead run (recorded, unchanged) in the working
  // folder; returns the
  // run's exit status.
  int Run(ScriptedDesktop& desktop, const std::vector<std::string>& args, const char* tail = nullptr) {
    LeaveRecordedPlaintext(m_working, "stale.txt");
    ViewerApp app(desktop);
    if (tail)
      EXPECT_FALSE(app.RunViewer(("\"C:\\Program Files\\TarvessinViewer.exe\" " + std::string(tail)).c_str()));
    else
      EXPECT_FALSE(app.RunOnArguments(args));
    return app.ExitStatus();
  }

  std::vector<std::string> WorkingFiles() {
    std::vector<std::string> names;
    ListFiles(m_working.c_str(), &names);
    return names;
  }

  TempDir m_runtime, m_files;
  std::string m_working;
  std::optional<std::string> m_oldRuntime;
};

}  // namespace

TEST_F(ViewerRun, OneContainerIsShownFromTheWorkingFolderMarkedThenRemoved) {
  // How the program is reached, and whether it still has the file after it "ended" (a
  // program that hands the file to an instance already running): the file goes only once
  // no one has it open.
  struct Case {
    LaunchResult launch;
    bool keepsItOpen;
    bool served;  // the run kept the desktop's windows served while it waited
    std::vector<std::string> boxes;
    int exitStatus;
  };
  const Case cases[] = {
      {ProcessEnded, false, false, {}, 0},
      {ProcessEnded, true, true, {}, 0},
      {NoProcess, false, false, {}, 0},
      {NoProcess, true, true, {}, 0},
      {Failed, false, false, {kNoAssociatedProgram}, 1},
  };
  const std::string container = Container("report.docx");
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "launch " << c.launch << (c.keepsItOpen ? ", kept open" : ""));
    ScriptedDesktop desktop;
    desktop.password = kPassword;
    desktop.launch = c.launch;
    std::unique_ptr<FileHandle> program;
    std::thread letGo;
    bool readOnlyWhileWaited = true;
    desktop.onOpen = [&](const std::string& path) {
      if (!c.keepsItOpen) return;
      program = std::make_unique<FileHandle>();
      ASSERT_EQ(program->Open(path.c_str(), FileMode::Read, Disposition::OpenExisting), 0u);
      if (c.launch == ProcessEnded)  // lets go while the run waits for it
        letGo = std::thread([&program, path] {
          SleepMilliseconds(1200);
          EXPECT_TRUE(Exists(path)) << "deleted while the program had it open";
          program.reset();
        });
    };
    desktop.onServe = [&] {
      readOnlyWhileWaited = readOnlyWhileWaited && testutil::IsReadOnly(desktop.opened.back());
      if (c.launch == NoProcess) program.reset();  // the other instance lets go as the run waits
    };

    EXPECT_EQ(Run(desktop, {m_files / "missing.docx.aqv3", container}), c.exitStatus);
    if (letGo.joinable()) letGo.join();

    ASSERT_EQ(desktop.opened, std::vector<std::string>{m_working + "/report.docx"});
    EXPECT_EQ(desktop.content, Plaintext("report.docx"));
    EXPECT_TRUE(desktop.readOnlyWhenOpened);
    EXPECT_TRUE(desktop.markedWhenOpened);
    EXPECT_EQ(desktop.serves > 0, c.served);
    EXPECT_TRUE(readOnlyWhileWaited) << "the plaintext was left writable while the program had it";
    EXPECT_EQ(desktop.boxes, c.boxes);
    if (!c.boxes.empty()) {
      EXPECT_TRUE(desktop.goneBeforeBox);
    }
    EXPECT_TRUE(desktop.jobs.errors.empty());
    EXPECT_EQ(WorkingFiles(), std::vector<std::string>{}) << "plaintext, its mark or the stale file left";
    EXPECT_TRUE(Exists(container));
  }
}

TEST_F(ViewerRun, RoadsWithoutViewing) {
  const std::string a = Container("a.txt"), b = Container("나.txt");
  struct Case {
    const char* what;
    std::vector<std::string> args;
    const char* tail;  // the command line after the program path, instead of args
    std::optional<std::string> password;
    std::vector<std::string> boxes;
    size_t jobErrors;
    bool besideThemselves;
    bool staleRemoved;
    int prompts, registered, unregistered;
    int exitStatus;
  };
  const Case cases[] = {
      {"no input", {}, nullptr, kPassword, {kNoInputFiles}, 0, false, true, 0, 0, 0, 1},
      {"no input on the command line", {}, "", kPassword, {kNoInputFiles}, 0, false, true, 0, 0, 0, 1},
      {"only missing input", {m_files / "missing.aqv3"}, nullptr, kPassword, {kNoInputFiles}, 0, false, true, 0, 0, 0, 1},
      {"cancelled prompt", {a}, nullptr, std::nullopt, {}, 0, false, true, 1, 0, 0, 1},
      {"wrong password", {a}, nullptr, std::string("wrong"), {}, 1, false, true, 1, 0, 0, 1},
      {"two containers", {a, b}, nullptr, kPassword, {}, 0, true, true, 1, 0, 0, 0},
      {"register", {}, "/regserver", kPassword, {}, 0, false, false, 0, 1, 0, 0},
      {"unregister", {}, "  /UnRegServer", kPassword, {}, 0, false, false, 0, 0, 1, 0},
      {"a switch with more after it", {}, "/RegServer x", kPassword, {}, 0, false, false, 0, 0, 0, 2},
      {"a '/' inside a file argument", {}, "\"C:/docs/a.txt.aqv3\"", kPassword, {}, 0, false, false, 0, 0, 0, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedDesktop desktop;
    desktop.password = c.password;
    EXPECT_EQ(Run(desktop, c.args, c.tail), c.exitStatus);
    EXPECT_EQ(desktop.boxes, c.boxes);
    EXPECT_EQ(desktop.jobs.errors.size(), c.jobErrors);
    EXPECT_EQ(desktop.prompts, c.prompts);
    EXPECT_EQ(desktop.registered, c.registered);
    EXPECT_EQ(desktop.unregistered, c.unregistered);
    EXPECT_TRUE(desktop.opened.empty());
    EXPECT_EQ(Exists(m_files / "a.txt"), c.besideThemselves);
    EXPECT_EQ(Exists(m_files / "나.txt"), c.besideThemselves);
    if (c.besideThemselves) {
      EXPECT_EQ(ReadBytes(m_files / "나.txt"), Plaintext("나.txt"));
      EXPECT_TRUE(testutil::IsReadOnly(m_files / "a.txt"));
      RemoveFile(m_files / "a.txt");
      RemoveFile(m_files / "나.txt");
    }
    std::vector<std::string> left = WorkingFiles();
    std::sort(left.begin(), left.end());
    const std::vector<std::string> stale = {"stale.txt", "stale.txt.qv3lock"};
    EXPECT_EQ(left, c.staleRemoved ? std::vector<std::string>() : stale);
    RemoveFile(m_working + "/stale.txt");
    RemoveFile(m_working + "/stale.txt.qv3lock");
  }
}

// The file manager's two verbs: a selection made into containers beside it (every file
// tried, failures listed once at the end), and containers decrypted beside themselves.
TEST_F(ViewerRun, EncryptASelectionThenDecryptHere) {
  const std::string korean = m_files / "보고서 2024.txt", again = m_files / "b.txt";
  const std::string gone = m_files / "gone.txt", folder = m_files / "폴더";
  WriteBytes(korean, Plaintext("보고서"));
  WriteBytes(again, Plaintext("b"));
  const std::vector<uint8_t> theirs = {1, 2, 3};
  WriteBytes(again + ".aqv3", theirs);
  ASSERT_EQ(CreateFolder(folder.c_str()), 0u);
  const auto quoted = [](const std::vector<std::string>& paths) {
    std::string tail;
    for (const std::string& path : paths) tail += " \"" + path + "\"";
    return tail;
  };
  const std::string selection = quoted({korean, folder, again, gone});
  const std::string failures = std::string(kEncryptionFailures) + "\r\n\r\n" +
                               FailureText({FailureKind::DirectoryNotEncrypted, 0, folder}) + "\r\n\r\n" +
                               AppendSystemErrorText(FailureText({FailureKind::InputMissing, ENOENT, gone}), ENOENT);
  struct Case {
    const char* what;
    std::string tail;
    std::optional<std::string> newPassword;
    std::vector<std::string> boxes;
    int newPrompts, exitStatus;
  };
  const Case cases[] = {
      {"only a folder", "/Encrypt" + quoted({folder}), kPassword,
       {std::string(kEncryptionFailures) + "\r\n\r\n" + FailureText({FailureKind::DirectoryNotEncrypted, 0, folder})}, 0, 1},
      {"nothing chosen", "/encrypt", kPassword, {kNoInputFiles}, 0, 1},
      {"cancelled", "/Encrypt" + selection, std::nullopt, {}, 1, 1},
      {"a selection", "/ENCRYPT" + selection, kPassword, {failures}, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedDesktop desktop;
    desktop.newPassword = c.newPassword;
    EXPECT_EQ(Run(desktop, {}, c.tail.c_str()), c.exitStatus);
    EXPECT_EQ(desktop.boxes, c.boxes);
    EXPECT_EQ(desktop.newPrompts, c.newPrompts);
    EXPECT_EQ(desktop.prompts, 0);
    EXPECT_TRUE(desktop.jobs.errors.empty()) << "a failure shown on its own";
    EXPECT_EQ(ReadBytes(again + ".aqv3"), theirs) << "an existing container replaced";
    RemoveFile(m_working + "/stale.txt");
  }
  ASSERT_TRUE(Exists(korean + ".aqv3"));
  ASSERT_TRUE(Exists(m_files / "b (2).txt.aqv3"));
  EXPECT_EQ(ReadBytes(korean), Plaintext("보고서")) << "a source changed";
  EXPECT_FALSE(testutil::IsReadOnly(korean));

  // Decrypt here: one container too goes beside itself, read-only, and nothing is opened.
  RemoveFile(korean);
  RemoveFile(again);
  for (const std::string& containers : {quoted({korean + ".aqv3"}), quoted({m_files / "b (2).txt.aqv3"})}) {
    ScriptedDesktop desktop;
    desktop.password = kPassword;
    EXPECT_EQ(Run(desktop, {}, ("/DecryptHere" + containers).c_str()), 0);
    EXPECT_TRUE(desktop.opened.empty());
    EXPECT_EQ(desktop.prompts, 1);
  }
  EXPECT_EQ(ReadBytes(korean), Plaintext("보고서"));
  EXPECT_EQ(ReadBytes(m_files / "b (2).txt"), Plaintext("b"));
  EXPECT_TRUE(testutil::IsReadOnly(korean));
  EXPECT_TRUE(testutil::IsReadOnly(m_files / "b (2).txt"));
  EXPECT_EQ(WorkingFiles(), std::vector<std::string>{});
}

// Another run shows the same container's plaintext (it holds the mark, the file is
// read-only): a second run, whether its password is wrong or right, shows its error and
// neither opens nor deletes that plaintext.
TEST_F(ViewerRun, ARunNeverShowsOrDeletesAnotherRunsPlaintext) {
  const std::string container = Container("shown.txt");
  const std::string plaintext = m_working + "/shown.txt";
  const std::vector<uint8_t> theirs = {'s', 'h', 'o', 'w', 'n'};
  WriteBytes(plaintext, theirs);
  SetReadOnly(plaintext.c_str(), true);
  LockFile otherRun;
  ASSERT_TRUE(otherRun.Hold(LockFileFor(plaintext).c_str()));
  for (const char* password : {"wrong", kPassword}) {
    SCOPED_TRACE(password);
    ScriptedDesktop desktop;
    desktop.password = std::string(password);
    EXPECT_EQ(Run(desktop, {container}), 1);
    EXPECT_TRUE(desktop.opened.empty()) << "another run's plaintext was opened";
    EXPECT_EQ(desktop.jobs.errors.size(), 1u);
    EXPECT_EQ(ReadBytes(plaintext), theirs);
    EXPECT_TRUE(testutil::IsReadOnly(plaintext));
    EXPECT_TRUE(IsLockFileHeld(LockFileFor(plaintext).c_str()));
  }
  otherRun.Release();
  RemoveFile(plaintext);
}

#endif  // _WIN32
