#include "platform/lock.h"

#include <mutex>
#include <new>

static_assert(sizeof(std::mutex) <= 64, "Lock storage too small");

Lock::Lock() { new (m_storage) std::mutex(); }
Lock::~Lock() { reinterpret_cast<std::mutex*>(m_storage)->~mutex(); }
void Lock::Enter() { reinterpret_cast<std::mutex*>(m_storage)->lock(); }
void Lock::Leave() { reinterpret_cast<std::mutex*>(m_storage)->unlock(); }
