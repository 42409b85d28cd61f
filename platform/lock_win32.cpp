#include "platform/lock.h"

#include <windows.h>

static_assert(sizeof(CRITICAL_SECTION) <= 64, "Lock storage too small");

static CRITICAL_SECTION* Section(unsigned char* storage) {
  return reinterpret_cast<CRITICAL_SECTION*>(storage);
}

Lock::Lock() { InitializeCriticalSection(Section(m_storage)); }
Lock::~Lock() { DeleteCriticalSection(Section(m_storage)); }
void Lock::Enter() { EnterCriticalSection(Section(m_storage)); }
void Lock::Leave() { LeaveCriticalSection(Section(m_storage)); }
