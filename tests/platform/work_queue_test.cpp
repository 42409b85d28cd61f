#include "platform/work_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

thread_local int t_marker;

struct Log {
  static constexpr int kJobs = 1000;
  int order[kJobs] = {};
  std::atomic<int> count{0};
  std::atomic<int> onCallerThread{0};
  const int* callerMarker = &t_marker;
};

struct Entry {
  Log* log;
  int index;
};

void Record(void* p) {
  const Entry& e = *static_cast<Entry*>(p);
  if (&t_marker == e.log->callerMarker) e.log->onCallerThread++;
  e.log->order[e.log->count.load()] = e.index;
  e.log->count++;
}

// Waits up to 10 s for the flag; true when it was seen.
struct Gate {
  std::atomic<bool> open{false};
  bool seen = false;
};

void WaitAtGate(void* p) {
  Gate& g = *static_cast<Gate*>(p);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!g.open.load() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  g.seen = g.open.load();
}

TEST(WorkQueue, RunsEveryJobOnceInOrderOnItsOwnThreadAndWaitsForTickets) {
  Log log;
  static Entry entries[Log::kJobs];
  WorkQueue queue;
  for (int i = 0; i < Log::kJobs; ++i) {
    entries[i] = {&log, i};
    const WorkQueue::Ticket ticket = queue.Submit(Record, &entries[i]);
    ASSERT_EQ(ticket, static_cast<WorkQueue::Ticket>(i + 1));
    if (i % 97 == 0) {
      queue.Wait(ticket);
      ASSERT_GE(log.count.load(), i + 1);
      for (int j = 0; j <= i; ++j) ASSERT_EQ(log.order[j], j);
    }
  }
  queue.WaitAll();
  ASSERT_EQ(log.count.load(), Log::kJobs);
  for (int j = 0; j < Log::kJobs; ++j) ASSERT_EQ(log.order[j], j);
  EXPECT_EQ(log.onCallerThread.load(), 0);
  queue.Wait(0);  // no job: returns at once
}

// The caller goes on while a job runs, and a queue that goes away first runs what it was
// given.
TEST(WorkQueue, HandsOverWithoutWaitingAndFinishesItsJobsWhenDestroyed) {
  Gate gate;
  Log log;
  Entry entries[WorkQueue::kCapacity - 1];
  {
    WorkQueue queue;
    queue.Submit(WaitAtGate, &gate);
    for (unsigned i = 0; i < WorkQueue::kCapacity - 1; ++i) {
      entries[i] = {&log, static_cast<int>(i)};
      queue.Submit(Record, &entries[i]);
    }
    EXPECT_EQ(log.count.load(), 0);  // all behind the job at the gate
    gate.open = true;
  }
  EXPECT_TRUE(gate.seen);
  EXPECT_EQ(log.count.load(), static_cast<int>(WorkQueue::kCapacity - 1));
}

}  // namespace
