#include "app/view_plaintext.h"

#include "platform/file_ops.h"
#include "platform/thread.h"
#include "ui/viewer_front_end.h"
#include "ui/viewer_text.h"

namespace {

void ClearReadOnlyAndDelete(const char* path) {
  SetReadOnly(path, false);
  DeletePath(path);
}

}  // namespace

void ViewPlaintext(const char* path, ViewerFrontEnd& ui) {
  switch (ui.OpenPlaintext(path)) {
    case ProcessEnded:
      for (int i = 0; i < 20; ++i) {
        if (IsFileInUse(path)) break;
        SleepMilliseconds(500);
      }
      SetReadOnly(path, false);
      while (IsFileInUse(path)) SleepMilliseconds(1000);
      ClearReadOnlyAndDelete(path);
      break;
    case Failed:
      ClearReadOnlyAndDelete(path);
      ui.ShowViewerError(kNoAssociatedProgram);
      break;
    case NoProcess:
      ui.WaitForHandOff();
      if (IsFileOpen(path)) ui.DrainEvents();
      ClearReadOnlyAndDelete(path);
      break;
  }
}
