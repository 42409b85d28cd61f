#pragma once
// A lock with a condition to wait on, for threads of this process that hand work to each
// other many times a second. Windows: a slim reader/writer lock and a condition
// variable, whose waits need no kernel object (under Wine, no round trip to its server);
// elsewhere a mutex and a condition variable.

class Monitor {
 public:
  Monitor();
  ~Monitor();
  Monitor(const Monitor&) = delete;
  Monitor& operator=(const Monitor&) = delete;

  void Enter();
  void Leave();
  // Only while entered: leaves, sleeps until a WakeAll (or for no reason: callers test
  // their condition again), and enters again before returning.
  void Wait();
  void WakeAll();

 private:
  // Big enough and aligned for either system's objects; checked where they are built.
  alignas(16) unsigned char m_storage[128];
};

// Enters a monitor for a scope.
class MonitorGuard {
 public:
  explicit MonitorGuard(Monitor& monitor) : m_monitor(monitor) { m_monitor.Enter(); }
  ~MonitorGuard() { m_monitor.Leave(); }
  MonitorGuard(const MonitorGuard&) = delete;
  MonitorGuard& operator=(const MonitorGuard&) = delete;

 private:
  Monitor& m_monitor;
};
