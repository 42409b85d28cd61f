#include "app/view_plaintext.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "app/plaintext_edits.h"
#include "app/stale_plaintexts.h"
#include "container/naming.h"
#include "platform/file_ops.h"
#include "platform/file_watch.h"
#include "platform/system_error.h"
#include "platform/text.h"
#include "ui/viewer_front_end.h"
#include "ui/viewer_text.h"

namespace {

using Clock = std::chrono::steady_clock;

unsigned ElapsedMs(Clock::time_point since) {
  return static_cast<unsigned>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A name of the working folder that is some run's own business, not a file a program
// made: lock files, partial outputs, mark streams, the clean-up's list, and what another
// running viewer is responsible for.
bool IsRunsOwn(const PrivateFolder& folder, const std::string& name) {
  std::string output;
  if (EndsWith(name, LockFileFor("")) || OutputOfPartial(name, &output) || !MarkedFileOf(name).empty() ||
      name == kReportedListName)
    return true;
  return IsLockFileHeld(folder.PathOf(LockFileFor(name)).c_str());
}

// Waits until some program opens the file, at most ms.
bool WaitToBeOpened(OpenWatch& watch, ViewerFrontEnd& ui, const ViewTimings& timings) {
  const Clock::time_point start = Clock::now();
  while (!watch.Opened()) {
    if (ElapsedMs(start) >= timings.handOff) return false;
    ui.ServeFor(timings.serve);
  }
  return true;
}

// Waits until no process has the file open, or the user asks for it to go now. False
// when the user chose "Delete now" while it was still open.
bool WaitUntilReleased(const std::string& path, const std::string& name, ViewerFrontEnd& ui,
                       const ViewTimings& timings) {
  ReleaseWatch release;
  release.Start(path);
  const Clock::time_point start = Clock::now();
  bool noticeShown = false;
  if (!IsFileOpen(path.c_str())) return true;
  for (;;) {
    ui.ServeFor(timings.serve);
    if (release.MaybeReleased() && !IsFileOpen(path.c_str())) return true;
    if (!noticeShown && ElapsedMs(start) >= timings.noticeAfter) {
      noticeShown = true;
      ui.Log("the file is still in use after " + std::to_string(timings.noticeAfter / 1000) + " s: asking");
      const InUseAnswer answer = ui.WaitWithInUseNotice(
          name, [&] { return release.MaybeReleased() && !IsFileOpen(path.c_str()); });
      if (answer == InUseAnswer::Released) return true;
      if (answer == InUseAnswer::DeleteNow) return false;
    }
  }
}

// Carries out the user's choice for one file; true when it saved the file back.
bool Settle(const ViewSession& session, const std::string& name, bool changed, bool canSaveBack,
            ViewerFrontEnd& ui) {
  const EditChoice choice = ui.AskAboutEdit(name, session.container, changed, canSaveBack);
  const std::string path = session.folder.PathOf(name);
  if (choice == EditChoice::Discard) {
    ui.Log("discarding " + path);
    session.folder.Remove(name);
    return false;
  }
  if (choice == EditChoice::SaveBack && canSaveBack) {
    ui.Log("saving " + path + " into " + session.container);
    const uint32_t status =
        SaveBackIntoContainer(session.jobs, session.folder, name, session.container, session.passwords);
    if (status == 0) return true;
    // The job has shown its own failure; a failure of the move is said here.
    const std::string text = Format(Tr(kNotSavedBack), path.c_str());
    ui.ShowViewerError((status == kSaveBackFailed ? text : AppendSystemErrorText(text, status)).c_str());
    return false;
  }
  std::string kept;
  const uint32_t status = KeepBesideContainer(session.folder, name, session.container, &kept);
  if (status == 0) {
    ui.Log("kept " + path + " as " + kept);
  } else {
    ui.ShowViewerError(AppendSystemErrorText(Format(Tr(kNotKeptBeside), path.c_str()), status).c_str());
  }
  return false;
}

}  // namespace

std::string WorkingFolderRefusal(const std::string& path) { return Format(Tr(kWorkingFolderRefused), path.c_str()); }

bool PrepareWorkingFolder(const std::string& path, PrivateFolder& folder, ViewerFrontEnd& ui) {
  uint32_t code = 0;
  const FolderRefusal refusal = folder.Open(path, &code);
  if (refusal != FolderRefusal::None) {
    ui.Log("the working folder " + path + " is refused (" + std::to_string(static_cast<int>(refusal)) +
           ", code " + std::to_string(code) + ")");
    return false;
  }
  const std::vector<std::string> left = RemoveStalePlaintexts(folder);
  if (!left.empty()) {
    std::string list;
    for (const std::string& name : left) list += "\r\n" + name;
    ui.ShowViewerNotice(Format(Tr(kLeftInWorkingFolder), path.c_str(), list.c_str()).c_str());
  }
  return true;
}

bool ViewPlaintext(const ViewSession& session, ViewerFrontEnd& ui, const ViewTimings& timings) {
  const PrivateFolder& folder = session.folder;
  const std::string path = folder.PathOf(session.name);

  // 1. Marked as its container is, then recorded as written.
  if (CopyOriginMark(session.container, path)) ui.Log("the container's origin mark is copied onto " + path);
  PlaintextRecord record{session.name, FileStamp(), session.container};
  if (!folder.Stamp(session.name, &record.stamp)) return false;
  session.mark.WriteNote(record.ToNote());

  // 2. A type that runs code is opened only when the user says so.
  const HandOverPlan plan = ui.PlanHandOver(path.c_str());
  if (plan.dangerous) {
    ui.Log(path + " is of a type that runs code when opened (" + plan.typeName + "): asking");
    if (!ui.AskOpenDangerous(session.name, plan.typeName)) {
      ui.Log("not opened");
      if (folder.Remove(session.name) != 0) session.mark.Leave();
      return false;
    }
  }

  // 3. Handed over, watching who opens it.
  std::vector<std::string> before;
  folder.List(&before);
  OpenWatch watch;
  watch.Start(path);
  LaunchResult launch = ui.OpenPlaintext(path.c_str(), &watch);
  if (launch == Failed) {
    watch.Stop();
    if (folder.Remove(session.name) != 0) session.mark.Leave();
    ui.ShowViewerError(Tr(kNoAssociatedProgram));
    return false;
  }
  if (launch == ProcessEnded && !watch.Opened()) {
    ui.Log("the program ended without opening the file: it may have handed it to another");
    launch = NoProcess;
  }
  if (launch == NoProcess) {
    const bool taken = WaitToBeOpened(watch, ui, timings);
    ui.Log(taken ? "a program opened the file"
                 : "no program opened the file within " + std::to_string(timings.handOff / 1000) + " s");
  }
  watch.Stop();

  // 4. Until no one has it open, or the user says it may go now.
  const bool released = WaitUntilReleased(path, session.name, ui, timings);
  ui.Log(released ? "no process has the file open" : "asked to delete it while it is in use");

  // 5. What the user changed or made is theirs to decide about.
  std::vector<std::string> after;
  folder.List(&after);
  FileStamp now;
  const bool present = folder.Stamp(session.name, &now);
  const bool changed = present && now != record.stamp;
  std::vector<std::string> made;
  for (const std::string& name : after)
    if (name != session.name && std::find(before.begin(), before.end(), name) == before.end() &&
        !IsRunsOwn(folder, name))
      made.push_back(name);

  bool savedBack = false;
  if (changed) {
    ui.Log(path + " was changed");
    savedBack = Settle(session, session.name, true, true, ui);
  } else if (present && folder.Remove(session.name) != 0) {
    // Still held (Windows refuses to remove a file open without delete sharing): the
    // record stays for the next run's clean-up.
    ui.Log("cannot remove " + path + " now; a later run will");
    session.mark.Leave();
  }
  for (const std::string& name : made) {
    ui.Log(folder.PathOf(name) + " appeared in the working folder");
    savedBack = Settle(session, name, false, !savedBack, ui) || savedBack;
  }
  return true;
}
