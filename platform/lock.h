#pragma once
// A mutual-exclusion lock: a critical section on Windows, a mutex elsewhere.

class Lock {
 public:
  Lock();
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void Enter();
  void Leave();

 private:
  // Big enough and aligned for either system's lock object; checked where it is used.
  alignas(16) unsigned char m_storage[64];
};

// Holds a lock for a scope; a null lock is allowed and does nothing.
class LockGuard {
 public:
  explicit LockGuard(Lock* lock) : m_lock(lock) {
    if (m_lock) m_lock->Enter();
  }
  ~LockGuard() {
    if (m_lock) m_lock->Leave();
  }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lock* m_lock;
};
