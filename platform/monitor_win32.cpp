#include <windows.h>

#include "platform/monitor.h"

namespace {

struct Objects {
  SRWLOCK lock;
  CONDITION_VARIABLE condition;
};

static_assert(sizeof(Objects) <= 128, "Monitor storage too small");

Objects* Of(unsigned char* storage) { return reinterpret_cast<Objects*>(storage); }

}  // namespace

Monitor::Monitor() {
  InitializeSRWLock(&Of(m_storage)->lock);
  InitializeConditionVariable(&Of(m_storage)->condition);
}
Monitor::~Monitor() = default;  // neither object holds a resource
void Monitor::Enter() { AcquireSRWLockExclusive(&Of(m_storage)->lock); }
void Monitor::Leave() { ReleaseSRWLockExclusive(&Of(m_storage)->lock); }
void Monitor::Wait() {
  SleepConditionVariableSRW(&Of(m_storage)->condition, &Of(m_storage)->lock, INFINITE, 0);
}
void Monitor::WakeAll() { WakeAllConditionVariable(&Of(m_storage)->condition); }
