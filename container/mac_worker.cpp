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

void MacWorker::Process(const uint8_t* data, size_t length, ContainerSink* sink) {
  m_mac.Update(data, length);
  if (!sink) return;
  const uint32_t status = sink->Write(data, static_cast<uint32_t>(length));
  if (status != 0) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_status == 0) m_status = status;
  }
}

uint32_t MacWorker::Submit(const uint8_t* data, size_t length, ContainerSink* sink) {
  if (!m_started) {
    try {
      m_thread = std::thread(&MacWorker::Run, this);
      m_started = true;
    } catch (const std::system_error&) {
      if (m_status == 0) Process(data, length, sink);
      return m_status;
    }
  }
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait(lock, [this] { return !m_busy; });
  if (m_status != 0) return m_status;
  m_data = data;
  m_length = length;
  m_sink = sink;
  m_busy = true;
  lock.unlock();
  m_changed.notify_all();
  return 0;
}

uint32_t MacWorker::Wait() {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (m_started) m_changed.wait(lock, [this] { return !m_busy; });
  return m_status;
}

void MacWorker::Run() {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_changed.wait(lock, [this] { return m_busy || m_stop; });
    if (!m_busy) return;  // stopped with nothing left to do
    const uint8_t* data = m_data;
    const size_t length = m_length;
    ContainerSink* sink = m_sink;
    lock.unlock();
    Process(data, length, sink);
    lock.lock();
    m_busy = false;
    m_changed.notify_all();
  }
}
