#include "jobs/batch.h"

#include <cstdint>
#include <deque>

#include "platform/monitor.h"
#include "platform/thread.h"

namespace {

enum class FileState : uint8_t { Running, Ended, NotStarted };

class Batch {
 public:
  // findAfterStop: once a file may not start, the later files are still found, each to be
  // handed on as not started (a counted batch); otherwise finding ends there.
  Batch(StreamWork& work, size_t window, bool findAfterStop)
      : m_work(work), m_window(window), m_findAfterStop(findAfterStop) {}

  // Takes the next file, finds it and runs it (or leaves it unstarted); false when none
  // was left.
  bool Step() {
    size_t file = 0;
    bool stopped = false;
    std::vector<size_t> waitFor;
    {
      MonitorGuard guard(m_monitor);
      // One finder at a time, in file order, and no more files held than the window.
      while (!m_finished && (m_finding || m_next - m_handedOn >= m_window)) m_monitor.Wait();
      if (m_finished || (m_stopped && !m_findAfterStop)) {
        m_finished = true;
        m_monitor.WakeAll();
        return false;
      }
      file = m_next++;
      m_state.push_back(FileState::Running);
      m_finding = true;
    }
    // Found outside the monitor: the work may read folders, or take its own locks.
    const bool found = m_work.Find(file, &waitFor);
    {
      MonitorGuard guard(m_monitor);
      m_finding = false;
      m_monitor.WakeAll();
      if (!found) {
        m_finished = true;
        m_next = file;
        m_state.pop_back();
        return false;
      }
      for (size_t earlier : waitFor)
        while (!m_stopped && earlier < file && !HasEnded(earlier)) m_monitor.Wait();
      stopped = m_stopped;
    }
    // Asked outside the monitor: the work may take its own locks.
    const bool start = !stopped && m_work.MayStart(file);
    if (start) m_work.Run(file);
    MonitorGuard guard(m_monitor);
    if (!start) m_stopped = true;
    m_state[file - m_handedOn] = start ? FileState::Ended : FileState::NotStarted;
    m_monitor.WakeAll();
    return true;
  }

  // Hands on, in order, every file that has ended since the last call; with wait, first
  // waits until the next one has. Returns false once all have been handed on.
  bool HandOn(bool wait) {
    for (;;) {
      bool started = false;
      size_t file = 0;
      {
        MonitorGuard guard(m_monitor);
        while (wait && !AllHandedOn() && !HasEnded(m_handedOn)) m_monitor.Wait();
        if (AllHandedOn()) return false;
        if (!HasEnded(m_handedOn)) return true;
        started = m_state.front() == FileState::Ended;
        file = m_handedOn;
      }
      m_work.Ended(file, started);
      {
        // The file leaves the window only once handed on: its record is the work's until then.
        MonitorGuard guard(m_monitor);
        m_state.pop_front();
        ++m_handedOn;
        m_monitor.WakeAll();
      }
      wait = false;
    }
  }

  static unsigned Work(void* self) {
    while (static_cast<Batch*>(self)->Step()) {
    }
    return 0;
  }

 private:
  // Under the monitor.
  bool HasEnded(size_t file) const {
    if (file < m_handedOn) return true;
    if (file >= m_next) return false;
    const FileState state = m_state[file - m_handedOn];
    return state == FileState::Ended || state == FileState::NotStarted;
  }
  bool AllHandedOn() const { return m_finished && !m_finding && m_handedOn == m_next; }

  StreamWork& m_work;
  const size_t m_window;
  const bool m_findAfterStop;
  Monitor m_monitor;
  std::deque<FileState> m_state;  // files m_handedOn to m_next - 1, under the monitor
  size_t m_next = 0;              // the next file to take, under the monitor
  size_t m_handedOn = 0;          // the next file to hand on, under the monitor
  bool m_finding = false;         // a thread is finding file m_next - 1 (monitor)
  bool m_finished = false;        // no file is left to find (monitor)
  bool m_stopped = false;         // a file may not start: no later one does (monitor)
};

// The files of a counted batch, as a stream.
class CountedWork : public StreamWork {
 public:
  CountedWork(BatchWork& work, size_t count, const std::vector<std::vector<size_t>>& waitFor)
      : m_work(work), m_count(count), m_waitFor(waitFor) {}
  bool Find(size_t file, std::vector<size_t>* waitFor) override {
    if (file >= m_count) return false;
    if (file < m_waitFor.size()) *waitFor = m_waitFor[file];
    return true;
  }
  bool MayStart(size_t file) override { return m_work.MayStart(file); }
  void Run(size_t file) override { m_work.Run(file); }
  void Ended(size_t file, bool started) override { m_work.Ended(file, started); }

 private:
  BatchWork& m_work;
  const size_t m_count;
  const std::vector<std::vector<size_t>>& m_waitFor;
};

void Run(StreamWork& work, size_t threads, size_t window, bool findAfterStop) {
  if (threads < 1) threads = 1;
  if (window < threads) window = threads;
  Batch batch(work, window, findAfterStop);
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

}  // namespace

void RunBatch(BatchWork& work, size_t count, size_t threads,
              const std::vector<std::vector<size_t>>& waitFor) {
  CountedWork counted(work, count, waitFor);
  if (threads > count) threads = count;
  Run(counted, threads, count > threads ? count : threads, true);
}

void RunStream(StreamWork& work, size_t threads, size_t window) {
  Run(work, threads, window, false);
}
