#pragma once
// Runs the updates of one HMAC on a thread of its own, one piece at a time in the order
// given, so that the cipher and the MAC of a file share the work of two cores. A writer
// also has each piece written there, after its MAC, so that encryption, the one serial
// chain, has a core to itself. The caller keeps each piece unchanged until the next
// Submit or Wait returns.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include "container/io.h"
#include "crypto/hmac.h"

class MacWorker {
 public:
  explicit MacWorker(HmacSha256& mac) : m_mac(mac) {}
  ~MacWorker();
  MacWorker(const MacWorker&) = delete;
  MacWorker& operator=(const MacWorker&) = delete;

  // Waits for the piece before, then hands this one over and returns at once; with a
  // sink, the piece is written to it after its MAC. Where no thread can be had the work
  // runs here. Returns the status of the first write that failed so far (0: none); once
  // one failed, later pieces are neither fed nor written.
  uint32_t Submit(const uint8_t* data, size_t length, ContainerSink* sink = nullptr);
  // Returns when every piece handed over has been fed (and written); the status as above.
  uint32_t Wait();

 private:
  void Run();
  void Process(const uint8_t* data, size_t length, ContainerSink* sink);

  HmacSha256& m_mac;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  const uint8_t* m_data = nullptr;
  size_t m_length = 0;
  ContainerSink* m_sink = nullptr;
  uint32_t m_status = 0;  // the first failed write's; read and written under m_mutex
  bool m_busy = false;
  bool m_stop = false;
  bool m_started = false;
  std::thread m_thread;
};
