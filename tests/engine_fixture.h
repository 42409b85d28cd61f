#pragma once
// Shared by the engine and job tests: a front end that records what the user would see,
// and a temporary folder with helpers that go through the same file layer as the engines
// (so Korean names are the system's multibyte text on every platform).

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "container/front_end.h"
#include "jobs/job_runner.h"
#include "platform/working_folder.h"
#include "tests/test_util.h"

namespace testutil {

// Records every call; Cancel is raised at a chosen file (1-based) once the bar reaches a
// chosen percentage, or once cancelWhen says so.
class RecordingUi : public FrontEnd {
 public:
  struct Error {
    std::string message;
    uint32_t code;
  };
  std::vector<Error> errors;
  std::vector<std::string> started;           // StartFile paths in order
  std::vector<std::vector<unsigned>> percents;  // per started file
  std::vector<std::string> shown;             // ShowFile paths in order (a whole run's bar)
  int opened = 0, closed = 0;
  ProgressOperation operation = OPERATION_DECRYPT;
  int cancelFile = 0;         // 0: never
  unsigned cancelPercent = 0;
  std::function<bool()> cancelWhen;  // asked whenever the engine asks whether to stop
  std::function<void()> onError;  // runs inside ShowErrorMessage

  std::unique_ptr<ProgressView> OpenProgress(ProgressOperation op) override;
  void ShowErrorMessage(const std::string& message, uint32_t code) override {
    errors.push_back({message, code});
    if (onError) onError();
  }
};

// A job's options the way the tests spell them; the working folder is the run's.
inline JobOptions Flags(bool encrypt, bool deleteSource = false, bool toWorkingFolder = false) {
  JobOptions options;
  options.encrypt = encrypt;
  options.deleteSource = deleteSource;
  options.toWorkingFolder = toWorkingFolder;
  if (toWorkingFolder) options.workingFolder = WorkingFolder();
  return options;
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::string& path);
bool Exists(const std::string& path);
// True when the file refuses to be opened for writing because it is read-only.
bool IsReadOnly(const std::string& path);
void RemoveFile(const std::string& path);  // clears read-only first
std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed);

}  // namespace testutil
