#pragma once
// A second thread that runs the jobs handed to it one at a time, in the order given, so
// that one stream's work can keep two cores busy: the caller does its part of piece k+1
// while the queue does the rest of piece k. Up to kCapacity jobs wait their turn, so a
// caller that is briefly slower does not leave the thread idle, and the thread sleeps
// only when there is nothing to do. A job is a function and its argument; what the job
// reads or writes stays untouched by the caller until Wait for its ticket has returned.
// Where no thread can be had, each job runs on the caller's thread as it is handed over.

#include <cstddef>
#include <cstdint>

#include "platform/monitor.h"
#include "platform/thread.h"

class WorkQueue {
 public:
  using Ticket = uint64_t;  // 1 for the first job handed over, then 2, ...
  static constexpr unsigned kCapacity = 8;
  // A job over fewer bytes than this gains less from the second core than its hand-over
  // costs; callers do such work in turn on their own thread.
  static constexpr size_t kWorthwhileBytes = 64 * 1024;

  WorkQueue() = default;
  // Runs every job handed over, then ends the thread.
  ~WorkQueue();
  WorkQueue(const WorkQueue&) = delete;
  WorkQueue& operator=(const WorkQueue&) = delete;

  // Queues job(arg), first waiting while kCapacity jobs are queued. The thread starts on
  // the first call.
  Ticket Submit(void (*job)(void*), void* arg);
  // Returns once the job with this ticket, and so every job before it, has run.
  void Wait(Ticket ticket);
  // Returns once every job handed over has run.
  void WaitAll() { Wait(m_submitted); }

 private:
  static unsigned Run(void* self);
  void RunJobs();

  struct Job {
    void (*run)(void*);
    void* arg;
  };
  Monitor m_monitor;
  Job m_jobs[kCapacity] = {};  // job t is at (t - 1) % kCapacity until it has run
  Ticket m_submitted = 0;      // written by the caller's thread, under the monitor
  Ticket m_done = 0;           // written by the queue's thread, under the monitor
  bool m_idle = false;         // the queue's thread sleeps for want of jobs
  unsigned m_waiting = 0;      // callers asleep in Submit or Wait
  bool m_stop = false;
  bool m_started = false;
  bool m_noThread = false;  // no thread could be had: jobs run as they are handed over
  ThreadHandle m_thread = 0;
};
