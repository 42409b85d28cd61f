#include "jobs/batch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Records what the batch does; a file's Run can be made to wait until a condition on the
// others holds (with a time limit, so that a batch that never lets it hold fails instead
// of hanging).
class Recorder : public BatchWork {
 public:
  explicit Recorder(size_t count) : ran(count), endedBeforeStart(count) {}

  bool MayStart(size_t file) override { return file < refuseFrom; }

  void Run(size_t file) override {
    const int now = ++running;
    int seen = mostAtOnce.load();
    while (now > seen && !mostAtOnce.compare_exchange_weak(seen, now)) {
    }
    {
      std::lock_guard<std::mutex> guard(m_lock);
      endedBeforeStart[file] = endedSoFar;
    }
    if (waitUntil) {
      const auto deadline = Clock::now() + std::chrono::seconds(10);
      while (!waitUntil(file) && Clock::now() < deadline) std::this_thread::yield();
      if (!waitUntil(file)) timedOut = true;
    }
    ran[file] = 1;
    --running;
    std::lock_guard<std::mutex> guard(m_lock);
    endedSoFar.push_back(file);
    ++endedCount;
  }

  void Ended(size_t file, bool started) override {
    handedOn.push_back(file);
    startedFlags.push_back(started);
    if (started != (ran[file].load() != 0)) runNotVisible = true;
    if (std::this_thread::get_id() != caller) offCaller = true;
  }

  size_t refuseFrom = SIZE_MAX;
  std::function<bool(size_t)> waitUntil;
  std::atomic<int> running{0}, mostAtOnce{0}, endedCount{0};
  std::atomic<bool> timedOut{false};
  std::vector<std::atomic<int>> ran;                  // Run has ended
  std::vector<std::vector<size_t>> endedBeforeStart;  // files whose Run had ended when each began
  std::vector<size_t> handedOn;
  std::vector<bool> startedFlags;
  bool runNotVisible = false, offCaller = false;
  std::thread::id caller = std::this_thread::get_id();

 private:
  std::mutex m_lock;
  std::vector<size_t> endedSoFar;
};

std::vector<size_t> Iota(size_t n) {
  std::vector<size_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = i;
  return v;
}

}  // namespace

// Files run up to the limit at once (the first four only end once all four run: a
// batch that ran them one at a time would time out), later files end first, and still
// every end is handed on once, in file order, on the calling thread, with what Run wrote.
TEST(RunBatch, RunsUpToTheLimitAtOnceAndHandsEndsOnInFileOrder) {
  for (size_t threads : {1u, 4u}) {
    SCOPED_TRACE(threads);
    Recorder work(12);
    // The first four end once all four run, file 0 last of them: its end still comes first.
    if (threads == 4)
      work.waitUntil = [&](size_t file) {
        return file >= 4 ||
               (work.mostAtOnce.load() == 4 && (file != 0 || work.endedCount.load() >= 3));
      };
    RunBatch(work, 12, threads, {});
    EXPECT_FALSE(work.timedOut);
    EXPECT_EQ(work.mostAtOnce.load(), static_cast<int>(threads));
    EXPECT_EQ(work.handedOn, Iota(12));
    EXPECT_EQ(work.startedFlags, std::vector<bool>(12, true));
    EXPECT_FALSE(work.runNotVisible);
    EXPECT_FALSE(work.offCaller);
  }
  Recorder none(0);
  RunBatch(none, 0, 4, {});
  EXPECT_TRUE(none.handedOn.empty());
}

// A file that waits for earlier ones starts only once they have ended, however many
// threads are free; one that may not start leaves every later one unstarted.
TEST(RunBatch, WaitsForEarlierFilesAndStartsNoneAfterARefusal) {
  Recorder work(6);
  // File 1 is slow; file 4 waits for it (and for 0), file 5 for nothing.
  work.waitUntil = [&](size_t file) { return file != 1 || work.ran[5]; };
  RunBatch(work, 6, 4, {{}, {}, {}, {}, {0, 1}, {}});
  EXPECT_FALSE(work.timedOut);
  const auto& before4 = work.endedBeforeStart[4];
  EXPECT_NE(std::find(before4.begin(), before4.end(), 1u), before4.end());
  EXPECT_NE(std::find(before4.begin(), before4.end(), 0u), before4.end());
  EXPECT_EQ(work.handedOn, Iota(6));

  Recorder refused(5);
  refused.refuseFrom = 2;
  RunBatch(refused, 5, 1, {});
  EXPECT_EQ(refused.handedOn, Iota(5));
  EXPECT_EQ(refused.startedFlags, (std::vector<bool>{true, true, false, false, false}));
  for (size_t file = 0; file < 5; ++file)
    EXPECT_EQ(refused.ran[file].load(), file < 2 ? 1 : 0) << file;
}

namespace {

// A stream of `count` files over the recorder: records the order Find was asked in and
// the most files found and not yet handed on at any time.
class Stream : public StreamWork {
 public:
  Stream(Recorder& work, size_t count) : m_work(work), m_count(count) {}
  bool Find(size_t file, std::vector<size_t>* waitFor) override {
    asked.push_back(file);
    if (file >= m_count) return false;
    if (file == 3) waitFor->push_back(1);
    const size_t held = file + 1 - handedOn.load();
    if (held > mostHeld) mostHeld = held;
    return true;
  }
  bool MayStart(size_t file) override { return m_work.MayStart(file); }
  void Run(size_t file) override { m_work.Run(file); }
  void Ended(size_t file, bool started) override {
    m_work.Ended(file, started);
    ++handedOn;
  }
  std::vector<size_t> asked;  // Find's own: one call at a time
  size_t mostHeld = 0;
  std::atomic<size_t> handedOn{0};

 private:
  Recorder& m_work;
  size_t m_count;
};

}  // namespace

// Files found as the batch goes are found once each, in order, never more than the window
// ahead of the last handed on, though file 0 ends last of all; a file still waits for the
// earlier one it names; once one may not start, nothing more is found.
TEST(RunStream, FindsInOrderWithinTheWindowAndStopsFindingAtARefusal) {
  Recorder work(40);
  // File 0 ends only once the others that fit the window have run.
  work.waitUntil = [&](size_t file) { return file != 0 || work.endedCount.load() >= 7; };
  Stream stream(work, 40);
  RunStream(stream, 4, 8);
  EXPECT_FALSE(work.timedOut);
  EXPECT_EQ(work.handedOn, Iota(40));
  EXPECT_EQ(stream.asked, Iota(41));
  EXPECT_LE(stream.mostHeld, 8u);
  EXPECT_EQ(stream.mostHeld, 8u) << "file 0 held the window full";
  const auto& before3 = work.endedBeforeStart[3];
  EXPECT_NE(std::find(before3.begin(), before3.end(), 1u), before3.end());

  Recorder refused(40);
  refused.refuseFrom = 5;
  Stream stopped(refused, 40);
  RunStream(stopped, 1, 8);
  EXPECT_EQ(refused.handedOn, Iota(6)) << "the files found are handed on, no more are found";
  EXPECT_EQ(refused.startedFlags, (std::vector<bool>{true, true, true, true, true, false}));
  EXPECT_EQ(stopped.asked, Iota(6));
}
