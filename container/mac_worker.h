#pragma once
// Runs the updates of one HMAC on a thread of its own, one piece at a time in the order
// given, so that the cipher and the MAC of a file share the work of two cores. The
// caller keeps each piece unchanged until the next Submit or Wait returns.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include "crypto/hmac.h"

class MacWorker {
 public:
  explicit MacWorker(HmacSha256& mac) : m_mac(mac) {}
  ~MacWorker();
  MacWorker(const MacWorker&) = delete;
  MacWorker& operator=(const MacWorker&) = delete;

  // Waits for the piece before, then hands this one over and returns at once. Where no
  // thread can be had the update runs here.
  void Submit(const uint8_t* data, size_t length);
  // Returns when every piece handed over has been fed to the MAC.
  void Wait();

 private:
  void Run();

  HmacSha256& m_mac;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  const uint8_t* m_data = nullptr;
  size_t m_length = 0;
  bool m_busy = false;
  bool m_stop = false;
  bool m_started = false;
  std::thread m_thread;
};
