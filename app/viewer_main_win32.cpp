// The Windows program's entry: the one ViewerApp, with the Win32 desktop, exists before
// WinMain runs and is destroyed at process exit, after the run has returned (its
// destructor shuts the job runner down).

#include <windows.h>

#include "app/viewer_app.h"
#include "platform/wide_win32.h"
#include "ui/win32/win32_viewer_front_end.h"

namespace {

// Constructed before theApp and destroyed after it.
Win32ViewerFrontEnd g_frontEnd;

}  // namespace

ViewerApp theApp(g_frontEnd);

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // The wide command line, as UTF-8: every name arrives as it is, whatever the code page.
  theApp.RunViewer(Utf8(GetCommandLineW()).c_str());
  return theApp.ExitStatus();
}
