#include "jobs/batch.h"

#include <cstdint>

#include "platform/monitor.h"
#include "platform/thread.h"

namespace {

enum class FileState : uint8_t { Waiting, Running, Ended, NotStarted };

class Batch {
 public:
  Batch(BatchWork& work, size_t count, const std::vector<std::vector<size_t>>& waitFor)
      : m_work(work), m_count(count), m_waitFor(waitFor), m_state(count, FileState::Waiting) {}

  // Takes the next file and runs it (or leaves it unstarted); false when none was left.
  bool Step() {
    size_t file = 0;
    bool stopped = false;
    {
      MonitorGuard guard(m_monitor);
      if (m_next == m_count) return false;
      file = m_next++;
      if (file < m_waitFor.size())
        for (size_t earlier : m_waitFor[file])
          while (earlier < file && !HasEnded(earlier)) m_monitor.Wait();
      stopped = m_stopped;
    }
    // Asked outside the monitor: the work may take its own locks.
    const bool start = !stopped && m_work.MayStart(file);
    if (start) m_work.Run(file);
    MonitorGuard guard(m_monitor);
    if (!start) m_stopped = true;
    m_state[file] = start ? FileState::Ended : FileState::NotStarted;
    m_monitor.WakeAll();
    return true;
  }

  // Hands on, in order, every file that has ended since the last call; with wait, first
  // waits until the next one has. Returns false once all have been handed on.
  bool HandOn(bool wait) {
    while (m_handedOn < m_count) {
      bool started = false;
      {
        MonitorGuard guard(m_monitor);
        while (wait && !HasEnded(m_handedOn)) m_monitor.Wait();
        if (!HasEnded(m_handedOn)) return true;
        started = m_state[m_handedOn] == FileState::Ended;
      }
      m_work.Ended(m_handedOn++, started);
      wait = false;
    }
    return false;
  }

  static unsigned Work(void* self) {
    while (static_cast<Batch*>(self)->Step()) {
    }
    return 0;
  }

 private:
  bool HasEnded(size_t file) const {
    return m_state[file] == FileState::Ended || m_state[file] == FileState::NotStarted;
  }

  BatchWork& m_work;
  const size_t m_count;
  const std::vector<std::vector<size_t>>& m_waitFor;
  Monitor m_monitor;
  std::vector<FileState> m_state;  // under the monitor
  size_t m_next = 0;               // the next file to take, under the monitor
  bool m_stopped = false;          // a file may not start: no later one does (monitor)
  size_t m_handedOn = 0;           // the calling thread's own
};

}  // namespace

void RunBatch(BatchWork& work, size_t count, size_t threads,
              const std::vector<std::vector<size_t>>& waitFor) {
  Batch batch(work, count, waitFor);
  if (threads < 1) threads = 1;
  if (threads > count) threads = count;
  std::vector<ThreadHandle> workers;
  for (size_t i = 0; i < threads; ++i) {
    const ThreadHandle thread = StartThread(&Batch::Work, &batch);
    if (!thread) break;
    workers.push_back(thread);
  }
  if (workers.empty()) {
    while (batch.Step()) batch.HandOn(false);
  }
  while (batch.HandOn(true)) {
  }
  for (ThreadHandle thread : workers) ReapThread(thread);
}
