#include "ui/win32/error_box.h"

#include <windows.h>

#include "platform/resources_win32.h"
#include "platform/system_error.h"
#include "platform/wide_win32.h"
#include "resources/resource.h"
#include "ui/viewer_text.h"

void ShowErrorMessage(std::string message, uint32_t systemError) {
  const std::string text = AppendSystemErrorText(message, systemError);
  const std::wstring caption = ResourceString(IDS_ERROR_CAPTION);
  MessageBoxW(GetForegroundWindow(), Wide(text).c_str(), caption.c_str(), MB_OK | MB_ICONERROR | MB_TOPMOST);
}

void ShowViewerErrorBox(const char* message, bool information) {
  MessageBoxW(nullptr, Wide(message).c_str(), Wide(Tr(kViewerCaption)).c_str(),
              MB_OK | (information ? MB_ICONINFORMATION : MB_ICONERROR) | MB_TOPMOST);
}
