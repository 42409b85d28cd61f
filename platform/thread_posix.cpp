#if defined(__linux__)
#include <sched.h>
#endif

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/thread.h"

namespace {

struct Worker {
  std::thread thread;
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
};

}  // namespace

ThreadHandle StartThread(unsigned (*entry)(void*), void* arg) {
  Worker* w = new Worker;
  try {
    w->thread = std::thread([w, entry, arg] {
      entry(arg);
      std::lock_guard<std::mutex> g(w->mutex);
      w->done = true;
      w->ended.notify_all();
    });
  } catch (...) {
    delete w;
    return 0;
  }
  return reinterpret_cast<ThreadHandle>(w);
}

void WaitServingMessages(ThreadHandle thread, const std::function<void()>& serve) {
  Worker* w = reinterpret_cast<Worker*>(thread);
  std::unique_lock<std::mutex> lock(w->mutex);
  while (!w->done) {
    w->ended.wait_for(lock, std::chrono::milliseconds(50));
    if (w->done) break;
    if (serve) {
      lock.unlock();
      serve();
      lock.lock();
    }
  }
}

void ReapThread(ThreadHandle thread) {
  Worker* w = reinterpret_cast<Worker*>(thread);
  w->thread.join();
  delete w;
}

void SleepMilliseconds(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

unsigned UsableProcessors() {
#if defined(__linux__)
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
    return static_cast<unsigned>(CPU_COUNT(&set));
#endif
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? n : 1;
}
