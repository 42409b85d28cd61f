#pragma once
// Cryptographically strong random bytes, 32 at a time.

#include <cstddef>
#include <cstdint>

class RandomSource {
 public:
  virtual ~RandomSource() = default;
  // Acquires the system's provider; false when it cannot be had. Acquiring an acquired
  // source keeps its provider.
  virtual bool Acquire() = 0;
  // Fills 32 bytes; false on failure, and always false when not acquired.
  virtual bool Fill32(uint8_t out[32]) = 0;
  // Fills count bytes (a multiple of 32) as count / 32 requests of Fill32 would, one
  // after the other; false when one of them fails. A system source makes them in as few
  // calls to the system as it can.
  virtual bool Fill(uint8_t* out, size_t count) {
    for (size_t i = 0; i + 32 <= count; i += 32)
      if (!Fill32(out + i)) return false;
    return true;
  }
  // Releases the provider; harmless when not acquired.
  virtual void Release() = 0;
};

// CryptAcquireContextA / CryptGenRandom / CryptReleaseContext on Windows (PROV_RSA_FULL,
// CRYPT_VERIFYCONTEXT, once more with CRYPT_NEWKEYSET after NTE_BAD_KEYSET), getrandom
// elsewhere (which needs no handle, so Acquire always succeeds there). The destructor
// releases. Fill takes all its bytes in one call to the system (the browser's: 256 at a
// time).
class SystemRandomSource : public RandomSource {
 public:
  ~SystemRandomSource() override { Release(); }
  bool Acquire() override;
  bool Fill32(uint8_t out[32]) override { return Fill(out, 32); }
  bool Fill(uint8_t* out, size_t count) override;
  void Release() override;

 private:
  uintptr_t m_hProvider = 0;
  bool m_acquired = false;
};
