#pragma once
// HMAC-SHA-256 (RFC 2104, 64-byte block), fed incrementally. The container format keys
// it with 32-byte keys: the key XORed into the first 32 bytes of the 0x36 and 0x5C pads.

#include <cstddef>
#include <cstdint>

#include "crypto/sha256.h"

class HmacSha256 {
 public:
  HmacSha256() = default;
  ~HmacSha256();
  HmacSha256(const HmacSha256&) = delete;
  HmacSha256& operator=(const HmacSha256&) = delete;

  // Starts a MAC: the inner hash is fed the inner pad. Keys over 64 bytes are hashed.
  void Init(const uint8_t* key, size_t keyLength);
  void Update(const void* data, size_t length);
  // Writes the 32-byte MAC and wipes the key material held here: Init again before the
  // next MAC. The destructor wipes as well, for a MAC abandoned before Final.
  void Final(uint8_t mac[32]);

 private:
  Sha256Context m_inner{};
  uint8_t m_outerPad[64] = {};
};

// One-shot convenience.
void ComputeHmacSha256(const uint8_t* key, size_t keyLength, const void* data, size_t length,
                       uint8_t mac[32]);
