#include <condition_variable>
#include <mutex>
#include <new>

#include "platform/monitor.h"

namespace {

struct Objects {
  std::mutex mutex;
  std::condition_variable condition;
};

static_assert(sizeof(Objects) <= 128, "Monitor storage too small");

Objects* Of(unsigned char* storage) { return std::launder(reinterpret_cast<Objects*>(storage)); }

}  // namespace

Monitor::Monitor() { new (m_storage) Objects(); }
Monitor::~Monitor() { Of(m_storage)->~Objects(); }
void Monitor::Enter() { Of(m_storage)->mutex.lock(); }
void Monitor::Leave() { Of(m_storage)->mutex.unlock(); }
void Monitor::Wait() {
  // The mutex is already held: adopt it for the wait, then hand it back still held.
  std::unique_lock<std::mutex> held(Of(m_storage)->mutex, std::adopt_lock);
  Of(m_storage)->condition.wait(held);
  held.release();
}
void Monitor::WakeAll() { Of(m_storage)->condition.notify_all(); }
