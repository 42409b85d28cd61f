#include "platform/random.h"

#include <unistd.h>

// The browser's generator (crypto.getRandomValues, behind getentropy) needs no handle;
// Acquire and Release only keep the object's state the same on every system (no bytes
// before Acquire, none after Release).
bool SystemRandomSource::Acquire() {
  m_acquired = true;
  return true;
}

bool SystemRandomSource::Fill32(uint8_t out[32]) {
  if (!m_acquired) return false;
  return getentropy(out, 32) == 0;
}

void SystemRandomSource::Release() {
  m_hProvider = 0;
  m_acquired = false;
}
