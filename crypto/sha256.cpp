#include "crypto/sha256.h"

#include <cstring>

#include "crypto/dispatch.h"

namespace {

// 0x80 then zeros: Final feeds a prefix of it as the message padding.
const uint8_t kPadding[64] = {0x80};

void StoreBigEndian(uint8_t* out, uint32_t v) {
  out[0] = static_cast<uint8_t>(v >> 24);
  out[1] = static_cast<uint8_t>(v >> 16);
  out[2] = static_cast<uint8_t>(v >> 8);
  out[3] = static_cast<uint8_t>(v);
}

}  // namespace

Sha256Context& Sha256Context::Init() {
  countLow = 0;
  countHigh = 0;
  state[0] = 0x6a09e667;
  state[1] = 0xbb67ae85;
  state[2] = 0x3c6ef372;
  state[3] = 0xa54ff53a;
  state[4] = 0x510e527f;
  state[5] = 0x9b05688c;
  state[6] = 0x1f83d9ab;
  state[7] = 0x5be0cd19;
  return *this;
}

void Sha256Context::Update(const void* data, size_t length) {
  if (length == 0) return;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  uint32_t used = countLow % 64;
  const uint32_t fill = 64 - used;

  const uint64_t count = (static_cast<uint64_t>(countHigh) << 32 | countLow) + length;
  countLow = static_cast<uint32_t>(count);
  countHigh = static_cast<uint32_t>(count >> 32);

  const Sha256Implementation& impl = ActiveSha256();
  if (used != 0 && length >= fill) {
    std::memcpy(buffer + used, p, fill);
    impl.compress(state, buffer, 1);
    p += fill;
    length -= fill;
    used = 0;
  }
  // Whole blocks straight from the caller's bytes, in one call so that an accelerated
  // implementation keeps the state in registers across them.
  if (length >= 64) {
    const size_t blocks = length / 64;
    impl.compress(state, p, blocks);
    p += blocks * 64;
    length -= blocks * 64;
  }
  if (length != 0) std::memcpy(buffer + used, p, length);
}

void Sha256Context::Final(uint8_t out[32]) {
  // The bit length is taken from the counts before the padding adds to them.
  uint8_t bitLength[8];
  StoreBigEndian(bitLength, (countHigh << 3) | (countLow >> 29));
  StoreBigEndian(bitLength + 4, countLow << 3);

  const uint32_t used = countLow % 64;
  Update(kPadding, used < 56 ? 56 - used : 120 - used);
  Update(bitLength, 8);

  // Written only after the last Update, so out may be a buffer fed earlier in this hash.
  for (int i = 0; i < 8; ++i) StoreBigEndian(out + 4 * i, state[i]);
}

void Sha256Context::ProcessBlock(const uint8_t block[64]) {
  ActiveSha256().compress(state, block, 1);
}
