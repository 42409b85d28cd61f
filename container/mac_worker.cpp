#include "container/mac_worker.h"

#include <system_error>

MacWorker::~MacWorker() {
  if (!m_started) return;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop = true;
  }
  m_changed.notify_all();
  m_thread.join();
}

void MacWorker::Submit(const uint8_t* data, size_t length) {
  if (!m_started) {
    try {
      m_thread = std::thread(&MacWorker::Run, this);
      m_started = true;
    } catch (const std::system_error&) {
      m_mac.Update(data, length);
      return;
    }
  }
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait(lock, [this] { return !m_busy; });
  m_data = data;
  m_length = length;
  m_busy = true;
  lock.unlock();
  m_changed.notify_all();
}

void MacWorker::Wait() {
  if (!m_started) return;
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait(lock, [this] { return !m_busy; });
}

void MacWorker::Run() {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_changed.wait(lock, [this] { return m_busy || m_stop; });
    if (!m_busy) return;  // stopped with nothing left to do
    const uint8_t* data = m_data;
    const size_t length = m_length;
    lock.unlock();
    m_mac.Update(data, length);
    lock.lock();
    m_busy = false;
    m_changed.notify_all();
  }
}
