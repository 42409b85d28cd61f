#pragma once
// Windows only. The two kinds of error box the viewer shows; each returns when the user
// has closed it.

#include <cstdint>
#include <string>

// The box of a job (the engines and the job runner): message, then for a non-zero code
// that the system can explain ":\n" and the system's text up to its first carriage
// return; caption string 102; owned by the foreground window; MB_OK | MB_ICONERROR |
// MB_TOPMOST.
void ShowErrorMessage(std::string message, uint32_t systemError);

// The viewer run's own box: the message alone, the caption "타르베신 외부암호파일뷰어",
// no owner window, MB_OK | MB_ICONERROR | MB_TOPMOST.
void ShowViewerErrorBox(const char* message, bool information = false);
