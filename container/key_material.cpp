#include "container/key_material.h"

#include <cstring>

#include "container/system_error_exception.h"
#include "crypto/secure.h"
#include "crypto/sha256.h"
#include "platform/random.h"

namespace {

constexpr int kRandomRequests = 256;  // 32-byte requests hashed into each 16 random bytes

void PutLittleEndian64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Feeds kRandomRequests requests of 32 random bytes to ctx, then takes its first 16
// digest bytes. The requests are made in one Fill: one call to the system where they
// were a thousand per container, the bytes hashed the same.
void FinishWithRandom(RandomSource& random, Sha256Context& ctx, uint8_t out[16]) {
  uint8_t block[kRandomRequests * 32] = {};
  ScopedWipe wipe(block, sizeof block);
  if (!random.Fill(block, sizeof block))
    throw SystemErrorException(FailureKind::NoRandomBytes, 0, "");
  ctx.Update(block, sizeof block);
  uint8_t digest[32];
  ctx.Final(digest);
  std::memcpy(out, digest, 16);
  SecureWipe(digest, sizeof digest);
}

}  // namespace

void MakeBulkIvAndKey(RandomSource& random, uint8_t out[48]) {
  for (int part = 0; part < 3; ++part) {
    Sha256Context ctx;
    ctx.Init();
    FinishWithRandom(random, ctx, out + 16 * part);
  }
}

void MakeFileIv(RandomSource& random, uint64_t time, uint64_t size, const std::string& path, uint8_t out[16]) {
  uint8_t seed[16];
  PutLittleEndian64(seed, time);
  PutLittleEndian64(seed + 8, size);
  Sha256Context ctx;
  ctx.Init();
  ctx.Update(seed, sizeof seed);
  ctx.Update(path.data(), path.size());
  FinishWithRandom(random, ctx, out);
}
