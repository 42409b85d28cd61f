#include "ui/win32/error_box.h"

#include <windows.h>

#include "platform/system_error.h"
#include "platform/wide_win32.h"
#include "resources/resource.h"
#include "ui/viewer_text.h"

void ShowErrorMessage(std::string message, uint32_t systemError) {
  const std::string text = AppendSystemErrorText(message, systemError);
  wchar_t caption[256] = {};
  LoadStringW(GetModuleHandleW(nullptr), IDS_ERROR_CAPTION, caption, 256);
  MessageBoxW(GetForegroundWindow(), Wide(text).c_str(), caption, MB_OK | MB_ICONERROR | MB_TOPMOST);
}

void ShowViewerErrorBox(const char* message) {
  MessageBoxW(nullptr, Wide(message).c_str(), Wide(kViewerCaption).c_str(), MB_OK | MB_ICONERROR | MB_TOPMOST);
}
