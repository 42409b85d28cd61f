#include "platform/work_queue.h"

WorkQueue::~WorkQueue() {
  if (!m_started) return;
  {
    MonitorGuard guard(m_monitor);
    m_stop = true;
    m_monitor.WakeAll();
  }
  ReapThread(m_thread);
}

WorkQueue::Ticket WorkQueue::Submit(void (*job)(void*), void* arg) {
  if (!m_started && !m_noThread) {
    m_thread = StartThread(&WorkQueue::Run, this);
    m_started = m_thread != 0;
    m_noThread = !m_started;
  }
  if (m_noThread) {
    job(arg);
    m_done = ++m_submitted;
    return m_submitted;
  }
  MonitorGuard guard(m_monitor);
  while (m_submitted - m_done == kCapacity) {
    ++m_waiting;
    m_monitor.Wait();
    --m_waiting;
  }
  m_jobs[m_submitted % kCapacity] = {job, arg};
  ++m_submitted;
  if (m_idle) m_monitor.WakeAll();
  return m_submitted;
}

void WorkQueue::Wait(Ticket ticket) {
  if (m_noThread || !m_started) return;
  MonitorGuard guard(m_monitor);
  while (m_done < ticket) {
    ++m_waiting;
    m_monitor.Wait();
    --m_waiting;
  }
}

unsigned WorkQueue::Run(void* self) {
  static_cast<WorkQueue*>(self)->RunJobs();
  return 0;
}

void WorkQueue::RunJobs() {
  MonitorGuard guard(m_monitor);
  for (;;) {
    if (m_done == m_submitted) {
      if (m_stop) return;
      m_idle = true;
      m_monitor.Wait();
      m_idle = false;
      continue;
    }
    const Job job = m_jobs[m_done % kCapacity];
    m_monitor.Leave();
    job.run(job.arg);
    m_monitor.Enter();
    ++m_done;
    if (m_waiting) m_monitor.WakeAll();
  }
}
