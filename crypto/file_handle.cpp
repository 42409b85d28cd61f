#include "crypto/file_handle.h"

#include <atomic>

#include "crypto/file_faults.h"

namespace {
std::atomic<FileFaults*> g_faults{nullptr};
}  // namespace

FileFaults* InstallFileFaults(FileFaults* faults) { return g_faults.exchange(faults); }

uint32_t InjectedFault(FileFaults::Operation operation, FileMode mode) {
  FileFaults* faults = g_faults.load(std::memory_order_acquire);
  return faults ? faults->Before(operation, mode) : 0;
}
