#pragma once
// Wiping secrets and comparing MACs without leaking where they differ.

#include <cstddef>
#include <string>

// Overwrites n bytes with zeros; never optimised away.
void SecureWipe(void* p, size_t n);

// True when the n bytes are equal; the time taken does not depend on where they differ.
bool ConstantTimeEqual(const void* a, const void* b, size_t n);

// Wipes a buffer when the scope ends, however it ends.
class ScopedWipe {
 public:
  ScopedWipe(void* p, size_t n) : m_p(p), m_n(n) {}
  ~ScopedWipe() { SecureWipe(m_p, m_n); }
  ScopedWipe(const ScopedWipe&) = delete;
  ScopedWipe& operator=(const ScopedWipe&) = delete;

 private:
  void* m_p;
  size_t m_n;
};

// Wipes a string's bytes when the scope ends, however it ends.
class StringWipe {
 public:
  explicit StringWipe(std::string& s) : m_s(s) {}
  ~StringWipe() {
    if (!m_s.empty()) SecureWipe(&m_s[0], m_s.size());
  }
  StringWipe(const StringWipe&) = delete;
  StringWipe& operator=(const StringWipe&) = delete;

 private:
  std::string& m_s;
};
