// The fault seam of test builds.

#include "platform/file_faults.h"

#include <atomic>

namespace {
std::atomic<FileFaults*> g_faults{nullptr};
}  // namespace

FileFaults* InstallFileFaults(FileFaults* faults) { return g_faults.exchange(faults); }

uint32_t InjectedFault(FileCall call, FileMode mode) {
  FileFaults* faults = g_faults.load(std::memory_order_acquire);
  return faults ? faults->Before(static_cast<FileFaults::Operation>(call), mode) : 0;
}
