// The viewer run on this system, through a scripted desktop: its roads, the plaintext's
// hand-over and removal, the mark it keeps on its plaintext and the clean-up at start.
// The working folder is redirected into a scratch folder through the session's runtime
// folder, which only this system's working folder follows (on Windows the GUI test runs
// the real program instead).
#ifndef _WIN32

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
#include "container/failure.h"
#include "container/folder_rule.h"
#include "container/naming.h"
#include "platform/text.h"
#include "ui/viewer_text.h"
#include "platform/file_handle.h"
#include "platform/codepage.h"
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
  static std::string Missing(const std::string& path) {
    return AppendSystemErrorText(FailureText({FailureKind::InputMissing, ENOENT, path}), ENOENT);
  }
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
  std::string Container(const std::string& name, const std::string& password = kPassword) {
    WriteBytes(m_files / name, Plaintext(name));
    RecordingUi ui;
    JobRunner runner(ui);
    FileList* list = new FileList;
    list->Append(m_files / name);
    runner.RunJob(list, Flags(true, true, false), password.c_str());
    EXPECT_TRUE(ui.errors.empty());
    return m_files / (name + (password.empty() ? ".bqv3" : ".aqv3"));
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

    EXPECT_EQ(Run(desktop, {container}), c.exitStatus);
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
      {"only missing input", {m_files / "missing.aqv3"}, nullptr, kPassword,
       {std::string(kDecryptionFailures) + "\r\n\r\n" + Missing(m_files / "missing.aqv3")}, 0, false, true, 0, 0, 0, 2},
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
  // The folder (empty) stands for no file; the missing file is the one failure.
  const std::string failures = std::string(kEncryptionFailures) + "\r\n\r\n" +
                               AppendSystemErrorText(FailureText({FailureKind::InputMissing, ENOENT, gone}), ENOENT);
  struct Case {
    const char* what;
    std::string tail;
    std::optional<std::string> newPassword;
    std::vector<std::string> boxes;
    int newPrompts, exitStatus;
  };
  const Case cases[] = {
      {"only an empty folder", "/Encrypt" + quoted({folder}), kPassword, {}, 1, 0},
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
    if (c.exitStatus == 0) {
      EXPECT_EQ(desktop.notices, std::vector<std::string>{Format(kEncryptedNotice, 0u) + "\r\n" + folder});
    }
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

// A folder is one run: one prompt, one progress window whose bar stands for the whole run
// (it never goes back and reaches the end while the file line follows the files), every
// file under it done beside itself, and what was done and skipped said at the end. Cancel
// half-way stops in the file in progress, which leaves nothing, and starts no other.
TEST_F(ViewerRun, AFolderIsOneRunUnderOneBar) {
  const std::string folder = m_files / "프로젝트";
  ASSERT_EQ(CreateFolder(folder.c_str()), 0u);
  ASSERT_EQ(CreateFolder((folder + "/sub").c_str()), 0u);
  std::vector<std::string> plain;
  for (int i = 0; i < 12; ++i) {
    plain.push_back(folder + (i % 2 ? "/sub/" : "/") + "f" + std::to_string(i) + ".txt");
    WriteBytes(plain.back(), RandomBytes(2000 * static_cast<size_t>((i + 1) * (i + 1)), static_cast<uint32_t>(i)));
  }
  WriteBytes(folder + "/old.txt.aqv3", {1, 2, 3});
  FolderSkipCounts oneContainer{};
  oneContainer[static_cast<size_t>(FolderSkip::Container)] = 1;
  const auto made = [&] {
    size_t n = 0;
    for (const std::string& path : plain) n += Exists(path + ".aqv3");
    return n;
  };
  const auto oneBar = [](const RecordingUi& jobs) {
    std::vector<unsigned> bar;
    for (const auto& file : jobs.percents) bar.insert(bar.end(), file.begin(), file.end());
    EXPECT_EQ(jobs.opened, 1) << "one progress window";
    EXPECT_EQ(jobs.started.size(), 1u) << "the bar is emptied once, at the start";
    EXPECT_TRUE(std::is_sorted(bar.begin(), bar.end())) << "the bar went back";
    return bar.empty() ? 0u : bar.back();
  };
  const std::string tail = " \"" + folder + "\"";
  {
    SCOPED_TRACE("cancelled half-way");
    ScriptedDesktop desktop;
    desktop.newPassword = kPassword;
    // By what was made, not by the bar: the bar stands for what the walk has found so
    // far, which on a busy machine may be the first file alone.
    desktop.jobs.cancelWhen = [&] { return made() >= 3; };
    EXPECT_EQ(Run(desktop, {}, ("/Encrypt" + tail).c_str()), 1);
    RemoveFile(m_working + "/stale.txt");
    EXPECT_TRUE(desktop.boxes.empty() && desktop.notices.empty());
    oneBar(desktop.jobs);
    EXPECT_EQ(made(), 3u) << "the file in progress at Cancel left nothing, and no other started";
    for (const std::string& path : plain) {
      EXPECT_FALSE(Exists(PartialPath(path + ".aqv3", 1))) << "a partial container left";
      if (Exists(path + ".aqv3")) RemoveFile(path + ".aqv3");
    }
  }
  {
    SCOPED_TRACE("encrypt");
    ScriptedDesktop desktop;
    desktop.newPassword = kPassword;
    EXPECT_EQ(Run(desktop, {}, ("/Encrypt" + tail).c_str()), 0);
    RemoveFile(m_working + "/stale.txt");
    EXPECT_EQ(oneBar(desktop.jobs), 100u);
    EXPECT_EQ(made(), plain.size());
    EXPECT_EQ(desktop.notices, std::vector<std::string>{Format(Tr(kEncryptedNotice), 12u) + "\r\n" + folder +
                                                        "\r\n\r\n" + Format(Tr("건너뛴 것: %s"),
                                                                              SkippedSummary(oneContainer).c_str())});
  }
  {
    SCOPED_TRACE("decrypt here");
    for (const std::string& path : plain) RemoveFile(path);
    RemoveFile(folder + "/old.txt.aqv3");
    ScriptedDesktop desktop;
    desktop.password = kPassword;
    EXPECT_EQ(Run(desktop, {}, ("/DecryptHere" + tail).c_str()), 0);
    RemoveFile(m_working + "/stale.txt");
    EXPECT_EQ(oneBar(desktop.jobs), 100u);
    EXPECT_EQ(desktop.notices, std::vector<std::string>{Format(Tr(kDecryptedNotice), 12u) + "\r\n" + folder});
    for (size_t i = 0; i < plain.size(); ++i) {
      EXPECT_EQ(ReadBytes(plain[i]), RandomBytes(2000 * (i + 1) * (i + 1), static_cast<uint32_t>(i)));
      EXPECT_TRUE(testutil::IsReadOnly(plain[i]));
    }
  }
}

// Every argument is made absolute before anything else (a bare name as xdg-open gives
// it), and what can be told without the password is told before anyone is asked: the
// double-click road names what it leaves out and goes on with the rest; Decrypt here
// tries every container and lists every failure once, at the end, or says what it made.
TEST_F(ViewerRun, ArgumentsAreCheckedBeforeThePasswordAndDecryptHereGoesPastFailures) {
  const std::string a = Container("a.txt"), b = Container("b.txt"), c = Container("c.txt");
  const std::string folder = m_files / "f.aqv3", small = m_files / "small.aqv3", named = m_files / "plain.txt";
  ASSERT_EQ(CreateFolder(folder.c_str()), 0u);
  WriteBytes(small, {'A', 'E', 'S'});
  WriteBytes(named, {1, 2, 3});
  const std::string missing = m_files / "missing.aqv3";
  auto text = [](FailureKind kind, const std::string& path) { return FailureText({kind, 0, path}); };
  // Decrypt here takes the folder (empty: nothing in it); the double-click road refuses it.
  const std::string refusedHere = text(FailureKind::TooSmall, small) + "\r\n\r\n" +
                                  text(FailureKind::NotAContainerName, named) + "\r\n\r\n" + Missing(missing);
  const std::string refused =
      AppendSystemErrorText(text(FailureKind::DirectoryNotDecrypted, folder), EISDIR) + "\r\n\r\n" + refusedHere;
  struct Case {
    const char* what;
    std::vector<std::string> args;
    const char* verb;
    std::vector<std::string> boxes;
    int prompts, exitStatus;
    size_t opened;
  };
  const Case cases[] = {
      {"a bare name", {"a.txt.aqv3"}, nullptr, {}, 1, 0, 1},
      {"nothing that can be opened", {folder, small, named, missing}, nullptr,
       {std::string(kDecryptionFailures) + "\r\n\r\n" + refused}, 0, 2, 0},
      {"one left out", {folder, small, named, missing, "a.txt.aqv3"}, nullptr,
       {std::string(kLeftOut) + "\r\n\r\n" + refused}, 1, 1, 1},
      {"decrypt here past failures", {folder, "a.txt.aqv3", small, named, missing, "b.txt.aqv3"}, "/DecryptHere",
       {std::string(kDecryptionFailures) + "\r\n\r\n" + refusedHere + "\r\n\r\n" +
        AppendSystemErrorText(text(FailureKind::OutputNotCreated, m_files / "a.txt"), EEXIST)},
       1, 1, 0},
  };
  char before[4096];
  ASSERT_NE(getcwd(before, sizeof before), nullptr);
  ASSERT_EQ(chdir(m_files.path().c_str()), 0);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    if (std::string(k.what) == "decrypt here past failures") WriteBytes(m_files / "a.txt", {9});
    ScriptedDesktop desktop;
    desktop.password = kPassword;
    std::string tail;
    for (const std::string& arg : k.args) tail += " \"" + arg + "\"";
    EXPECT_EQ(k.verb ? Run(desktop, {}, (k.verb + tail).c_str()) : Run(desktop, k.args), k.exitStatus);
    EXPECT_EQ(desktop.boxes, k.boxes);
    EXPECT_EQ(desktop.prompts, k.prompts);
    EXPECT_EQ(desktop.opened.size(), k.opened);
    EXPECT_TRUE(desktop.jobs.errors.empty()) << "a failure shown on its own";
    EXPECT_TRUE(desktop.notices.empty());
  }
  EXPECT_EQ(ReadBytes(m_files / "a.txt"), std::vector<uint8_t>{9}) << "an existing plaintext replaced";
  EXPECT_EQ(ReadBytes(m_files / "b.txt"), Plaintext("b.txt")) << "decrypt here stopped at a failure";
  // Everything well: what was made is said.
  RemoveFile(m_files / "b.txt");
  ScriptedDesktop desktop;
  desktop.password = kPassword;
  EXPECT_EQ(Run(desktop, {}, ("/DecryptHere \"" + b + "\" \"" + c + "\"").c_str()), 0);
  EXPECT_EQ(desktop.notices, std::vector<std::string>{Format(kDecryptedNotice, 2u) + "\r\n" + b + "\r\n" + c});
  ASSERT_EQ(chdir(before), 0);
}

// One typing opens each container with whichever form it was keyed with, in any order;
// containers made with the empty password open without a prompt; a new password no form
// can keep is refused by name and asked again.
TEST_F(ViewerRun, OneTypingOpensEveryFormAndTheEmptyPasswordAsksNothing) {
  std::string cp949, tokyo;
  ASSERT_TRUE(Utf8ToCp949("가나다라마", &cp949));
  ASSERT_TRUE(Utf8ToCp949("東京", &tokyo));
  const std::string k = Container("k.txt", cp949), u = Container("u.txt", "가나다"), e = Container("e.txt", "");
  for (const std::string& tail : {"/DecryptHere \"" + k + "\" \"" + u + "\"", "/DecryptHere \"" + u + "\" \"" + k + "\""}) {
    ScriptedDesktop desktop;
    desktop.password = "가나다라마";
    EXPECT_EQ(Run(desktop, {}, tail.c_str()), 0) << tail;
    EXPECT_EQ(desktop.prompts, 1);
    for (const char* name : {"k.txt", "u.txt"}) {
      EXPECT_EQ(ReadBytes(m_files / name), Plaintext(name));
      RemoveFile(m_files / name);
    }
  }
  struct Case {
    std::vector<std::string> files;
    int prompts;
  } cases[] = {{{e}, 0}, {{e, k}, 1}};
  for (const Case& c : cases) {
    ScriptedDesktop desktop;
    desktop.password = "가나다라마";
    EXPECT_EQ(Run(desktop, c.files), 0);
    EXPECT_EQ(desktop.prompts, c.prompts);
    EXPECT_EQ(desktop.opened.size(), c.files.size() == 1 ? 1u : 0u);
    RemoveFile(m_files / "e.txt");
    RemoveFile(m_files / "k.txt");
  }

  WriteBytes(m_files / "n.txt", Plaintext("n"));
  ScriptedDesktop desktop;
  desktop.newPasswordsBefore = {"가\xF0\x9F\x98\x80"};
  desktop.newPassword = "東京";
  EXPECT_EQ(Run(desktop, {}, ("/Encrypt \"" + m_files / "n.txt" + "\"").c_str()), 0);
  ASSERT_EQ(desktop.boxes.size(), 1u);
  EXPECT_NE(desktop.boxes[0].find("\xF0\x9F\x98\x80"), std::string::npos) << "the emoji is named";
  EXPECT_EQ(desktop.newPrompts, 2);
  RecordingUi ui;
  JobRunner runner(ui);
  FileList* list = new FileList;
  list->Append(m_files / "n.txt.aqv3");
  JobOptions options = Flags(false);
  options.outputPath = m_files / "n.out";
  EXPECT_EQ(runner.RunJob(list, options, tokyo.c_str()), JobOutcome{FileOutcome::Done}) << "keyed in code page 949";
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
