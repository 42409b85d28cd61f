#pragma once
// The viewer's front end on Windows: the modeless progress dialog (template 118), created
// on the engine's worker thread, and top-most error boxes with caption string 102.

#include <cstdint>
#include <string>

#include "container/front_end.h"

// The error box: message, then for a non-zero code that the system can explain ":\n" and
// the system's text up to its first carriage return; owned by the foreground window,
// MB_OK | MB_ICONERROR | MB_TOPMOST. Returns when the user has closed it.
void ShowErrorMessage(std::string message, uint32_t systemError);

class Win32FrontEnd : public FrontEnd {
 public:
  std::unique_ptr<ProgressView> OpenProgress(ProgressOperation operation) override;
  void ShowErrorMessage(const std::string& message, uint32_t code) override;
};
