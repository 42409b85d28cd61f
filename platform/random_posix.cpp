#include "platform/random.h"

#include <sys/random.h>

#include <cerrno>
#include <cstddef>

// The kernel's generator needs no handle; Acquire and Release only keep the object's
// state the same on every system (no bytes before Acquire, none after Release).
bool SystemRandomSource::Acquire() {
  m_acquired = true;
  return true;
}

bool SystemRandomSource::Fill(uint8_t* out, size_t count) {
  if (!m_acquired) return false;
  size_t done = 0;
  while (done < count) {
    // A request above 256 bytes may come back short when a signal arrives: go on.
    const ssize_t n = getrandom(out + done, count - done, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

void SystemRandomSource::Release() {
  m_hProvider = 0;
  m_acquired = false;
}
