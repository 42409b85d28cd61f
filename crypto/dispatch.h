#pragma once
// The one place where the CPU decides which implementation runs: best first, portable
// last. QV3_CPU turns features off: "portable" (all), "noaesni", "noshani", comma-separated.

#include <cstddef>

#include "crypto/aes.h"
#include "crypto/sha256.h"

// What the running CPU offers, after QV3_CPU.
struct CpuFeatures {
  bool aesni = false;
  bool shani = false;
};
CpuFeatures AllowedCpuFeatures();

// The implementations in use, chosen once.
const AesImplementation& ActiveAes();
const Sha256Implementation& ActiveSha256();

// Every implementation this machine can run (ignoring QV3_CPU), best first, portable last;
// returns the count. For tests and benchmarks.
size_t AvailableAesImplementations(const AesImplementation* out[], size_t capacity);
size_t AvailableSha256Implementations(const Sha256Implementation* out[], size_t capacity);

// Test and benchmark hook: makes impl the active one until the guard is destroyed.
class ScopedAesImplementation {
 public:
  explicit ScopedAesImplementation(const AesImplementation& impl);
  ~ScopedAesImplementation();
  ScopedAesImplementation(const ScopedAesImplementation&) = delete;
  ScopedAesImplementation& operator=(const ScopedAesImplementation&) = delete;

 private:
  const AesImplementation* m_previous;
};
class ScopedSha256Implementation {
 public:
  explicit ScopedSha256Implementation(const Sha256Implementation& impl);
  ~ScopedSha256Implementation();
  ScopedSha256Implementation(const ScopedSha256Implementation&) = delete;
  ScopedSha256Implementation& operator=(const ScopedSha256Implementation&) = delete;

 private:
  const Sha256Implementation* m_previous;
};
