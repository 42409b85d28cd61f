#include "platform/random.h"

#include <unistd.h>

// The browser's generator (crypto.getRandomValues, behind getentropy) needs no handle;
// Acquire and Release only keep the object's state the same on every system (no bytes
// before Acquire, none after Release).
bool SystemRandomSource::Acquire() {
  m_acquired = true;
  return true;
}

bool SystemRandomSource::Fill(uint8_t* out, size_t count) {
  if (!m_acquired) return false;
  for (size_t done = 0; done < count; done += 256)  // getentropy's most at a time
    if (getentropy(out + done, count - done < 256 ? count - done : 256) != 0) return false;
  return true;
}

void SystemRandomSource::Release() {
  m_hProvider = 0;
  m_acquired = false;
}
