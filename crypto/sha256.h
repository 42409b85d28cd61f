#pragma once
// SHA-256 (FIPS 180-2), incremental. A plain record owned by the caller.

#include <cstddef>
#include <cstdint>

struct Sha256Context {
  uint32_t countLow;   // bytes fed since Init, low 32 bits
  uint32_t countHigh;  // high 32 bits
  uint32_t state[8];   // H0..H7
  uint8_t buffer[64];  // the incomplete block; countLow % 64 bytes are in use

  // Resets the context. Returns it for chaining.
  Sha256Context& Init();
  // Feeds bytes, any number of them in one call; whole blocks are hashed straight from
  // data without a copy, and no pointer to data is kept, so data may later receive the
  // digest of Final.
  void Update(const void* data, size_t length);
  // Writes the 32-byte digest. Does not reset: call Init before hashing again.
  void Final(uint8_t out[32]);
  // The compression function on one 64-byte block (no alignment needed).
  void ProcessBlock(const uint8_t block[64]);
};

// One implementation of the compression function over `blocks` consecutive blocks.
struct Sha256Implementation {
  const char* name;  // "portable", "sha-ni"
  void (*compress)(uint32_t state[8], const uint8_t* data, size_t blocks);
};

// Defined in sha256_portable.cpp and sha256_ni.cpp; only dispatch.cpp chooses.
extern const Sha256Implementation kSha256Portable;
extern const Sha256Implementation kSha256Ni;  // callable only where the CPU has SHA-NI
