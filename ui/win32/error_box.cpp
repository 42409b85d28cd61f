#include "ui/win32/error_box.h"

#include <windows.h>

#include "platform/system_error.h"
#include "resources/resource.h"
#include "ui/viewer_text.h"

void ShowErrorMessage(std::string message, uint32_t systemError) {
  const std::string text = AppendSystemErrorText(message, systemError);
  char caption[256] = {};
  LoadStringA(GetModuleHandleA(nullptr), IDS_ERROR_CAPTION, caption, sizeof caption);
  MessageBoxA(GetForegroundWindow(), text.c_str(), caption, MB_OK | MB_ICONERROR | MB_TOPMOST);
}

void ShowViewerErrorBox(const char* message) {
  MessageBoxA(nullptr, message, kViewerCaption, MB_OK | MB_ICONERROR | MB_TOPMOST);
}
