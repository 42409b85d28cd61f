#include "app/view_plaintext.h"

#include <chrono>
#include <string>

#include "platform/file_ops.h"
#include "platform/thread.h"
#include "ui/viewer_front_end.h"
#include "ui/viewer_text.h"

namespace {

using Clock = std::chrono::steady_clock;

// How long the road without a process waits for a program to take the file.
constexpr auto kHandOffWait = std::chrono::seconds(30);
constexpr unsigned kTakenPollMs = 100;
constexpr unsigned kHeldPollMs = 250;

// The mark comes off for the deletion alone; a file that cannot be deleted keeps it.
void DeletePlaintext(const char* path) {
  SetReadOnly(path, false);
  if (DeletePath(path) != 0) SetReadOnly(path, true);
}

void WaitForHandOff(const char* path, ViewerFrontEnd& ui) {
  const Clock::time_point start = Clock::now();
  bool taken = false;
  while (!taken && Clock::now() - start < kHandOffWait) {
    taken = ui.OpenedSinceLaunch() || IsFileOpen(path);
    if (!taken) ui.ServeFor(kTakenPollMs);
  }
  ui.Log(taken ? "a program took the file; waiting until no process has it open"
               : "no program took the file within " +
                     std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kHandOffWait).count()) + " s");
  while (IsFileOpen(path)) ui.ServeFor(kHeldPollMs);
}

}  // namespace

bool ViewPlaintext(const char* path, ViewerFrontEnd& ui) {
  switch (ui.OpenPlaintext(path)) {
    case ProcessEnded:
      while (IsFileOpen(path)) SleepMilliseconds(1000);
      DeletePlaintext(path);
      return true;
    case Failed:
      DeletePlaintext(path);
      ui.ShowViewerError(Tr(kNoAssociatedProgram));
      return false;
    case NoProcess:
      WaitForHandOff(path, ui);
      DeletePlaintext(path);
      return true;
  }
  return true;
}
