#pragma once
// What the engines see of a job on Windows: the modeless progress dialog (template 118),
// created on the engine's worker thread, and the job's error box (ShowErrorMessage).

#include <cstdint>
#include <string>

#include "container/front_end.h"

class Win32FrontEnd : public FrontEnd {
 public:
  std::unique_ptr<ProgressView> OpenProgress(ProgressOperation operation) override;
  void ShowErrorMessage(const std::string& message, uint32_t code) override;
};
