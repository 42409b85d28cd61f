#pragma once
// The desktop as the viewer run sees it, scripted: its prompts answer as told, the
// program it hands a file to is a function of the test (a fake program), and it records
// what the user would have seen and what that program found.

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/stale_plaintexts.h"
#include "platform/file_ops.h"
#include "platform/lock_file.h"
#include "platform/private_folder.h"
#include "platform/thread.h"
#include "tests/engine_fixture.h"
#include "ui/viewer_front_end.h"

namespace testutil {

class ScriptedDesktop : public ViewerFrontEnd {
 public:
  RecordingUi jobs;
  std::optional<std::string> password;     // none: the prompt is cancelled
  std::optional<std::string> newPassword;  // none: the encryption prompt is cancelled
  std::vector<std::string> newPasswordsBefore;  // typed into the encryption prompt first
  LaunchResult launch = ProcessEnded;
  // The fake program, run when the file is handed over (it may keep the file open, or
  // start a thread that opens it later).
  std::function<void(const std::string&)> onOpen;
  // Run at every turn of serving the windows while the run waits.
  std::function<void()> onServe;

  HandOverPlan plan;                  // what PlanHandOver answers
  bool openDangerous = false;         // the answer to the dangerous-type question
  EditChoice editChoice = EditChoice::KeepBeside;
  InUseAnswer inUseAnswer = InUseAnswer::KeepWaiting;

  int prompts = 0, newPrompts = 0, serves = 0, registered = 0, unregistered = 0;
  std::vector<std::string> boxes, notices;
  std::vector<std::string> dangerousAsked;  // names
  struct EditQuestion {
    std::string name;
    bool changed, canSaveBack;
  };
  std::vector<EditQuestion> editsAsked;
  std::vector<std::string> inUseShown;
  std::vector<std::string> opened;
  std::vector<uint8_t> content;      // what the program read
  bool readOnlyWhenOpened = false;
  bool markedWhenOpened = false;     // the run's lock file was held while it was shown
  bool goneBeforeBox = false;        // at the first box: the last opened file was deleted

  FrontEnd& JobFrontEnd() override { return jobs; }
  bool AskPassword(std::string* typed) override {
    ++prompts;
    if (!password) return false;
    *typed = *password;
    return true;
  }
  bool AskNewPassword(std::string* typed) override {
    ++newPrompts;
    if (newPrompts <= static_cast<int>(newPasswordsBefore.size())) {
      *typed = newPasswordsBefore[static_cast<size_t>(newPrompts - 1)];
      return true;
    }
    if (!newPassword) return false;
    *typed = *newPassword;
    return true;
  }
  void ShowViewerError(const char* message) override {
    goneBeforeBox = !opened.empty() && !Exists(opened.back());
    boxes.push_back(message);
  }
  void ShowViewerNotice(const char* message) override { notices.push_back(message); }
  HandOverPlan PlanHandOver(const char*) override { return plan; }
  bool AskOpenDangerous(const std::string& name, const std::string&) override {
    dangerousAsked.push_back(name);
    return openDangerous;
  }
  EditChoice AskAboutEdit(const std::string& name, const std::string&, bool changed, bool canSaveBack) override {
    editsAsked.push_back({name, changed, canSaveBack});
    return editChoice;
  }
  InUseAnswer WaitWithInUseNotice(const std::string& name, const std::function<bool()>& released) override {
    inUseShown.push_back(name);
    if (inUseAnswer != InUseAnswer::Released) return inUseAnswer;
    while (!released()) ServeFor(50);
    return InUseAnswer::Released;
  }
  // Whether the desktop itself reads the file as it hands it over (a program that opens
  // it at once); false for programs that end or hand it on without opening it.
  bool inspect = true;
  LaunchResult OpenPlaintext(const char* path, OpenWatch*) override {
    opened.push_back(path);
    if (inspect) {
      content = ReadBytes(path);
      readOnlyWhenOpened = IsReadOnly(path);
    }
    markedWhenOpened = IsLockFileHeld((std::string(path) + ".qv3lock").c_str());
    if (onOpen) onOpen(path);
    return launch;
  }
  void ServeFor(unsigned ms) override {
    ++serves;
    if (onServe) onServe();
    SleepMilliseconds(ms);
  }
  bool RegisterFileType() override { return ++registered > 0; }
  bool UnregisterFileType() override { return ++unregistered > 0; }
};

// A plaintext that a dead run left in folder: read-only, recorded in its lock file, which
// no one holds any more.
inline void LeaveRecordedPlaintext(const std::string& folder, const std::string& name,
                                   const std::vector<uint8_t>& bytes = {1}) {
  PrivateFolder opened;
  ASSERT_EQ(opened.Open(folder), FolderRefusal::None);
  WriteBytes(opened.PathOf(name), bytes);
  SetReadOnly(opened.PathOf(name).c_str(), true);
  PlaintextRecord record{name, FileStamp(), "C:/a/" + name + ".aqv3"};
  ASSERT_TRUE(opened.Stamp(name, &record.stamp));
  LockFile lock;
  ASSERT_TRUE(lock.Hold(opened.PathOf(LockFileFor(name)).c_str()));
  ASSERT_TRUE(lock.WriteNote(record.ToNote()));
  lock.Leave();
}

}  // namespace testutil
