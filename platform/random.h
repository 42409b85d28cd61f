#pragma once
// Cryptographically strong random bytes, 32 at a time.

#include <cstdint>

class RandomSource {
 public:
  virtual ~RandomSource() = default;
  // Acquires the system's provider; false when it cannot be had. Acquiring an acquired
  // source keeps its provider.
  virtual bool Acquire() = 0;
  // Fills 32 bytes; false on failure, and always false when not acquired.
  virtual bool Fill32(uint8_t out[32]) = 0;
  // Releases the provider; harmless when not acquired.
  virtual void Release() = 0;
};

// CryptAcquireContextA / CryptGenRandom / CryptReleaseContext on Windows (PROV_RSA_FULL,
// CRYPT_VERIFYCONTEXT, once more with CRYPT_NEWKEYSET after NTE_BAD_KEYSET), getrandom
// elsewhere (which needs no handle, so Acquire always succeeds there). The destructor
// releases.
class SystemRandomSource : public RandomSource {
 public:
  ~SystemRandomSource() override { Release(); }
  bool Acquire() override;
  bool Fill32(uint8_t out[32]) override;
  void Release() override;

 private:
  uintptr_t m_hProvider = 0;
  bool m_acquired = false;
};
