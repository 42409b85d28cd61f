// AES with the x86 AES-NI instructions, over the same context records as the portable
// code. The records' round keys are stored byte for byte as FIPS-197 prints them, which
// is the operand order of aesenc/aesdec; the decryption record already holds the
// InvMixColumns-transformed keys that aesdec expects, in the order it uses them.
//
// The instructions are enabled per function, not for the whole program: dispatch.cpp
// calls in here only after checking the CPU. All loads and stores are unaligned ones,
// since neither the records nor the caller's buffers promise 16-byte alignment.

#include <immintrin.h>

#include "crypto/aes.h"
#include "crypto/secure.h"

#define QV3_TARGET_AESNI __attribute__((target("aes,sse2,ssse3")))

namespace {


QV3_TARGET_AESNI inline __m128i Load(const void* p) {
  return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

QV3_TARGET_AESNI inline void Store(void* p, __m128i v) {
  _mm_storeu_si128(static_cast<__m128i*>(p), v);
}

// Round key r of a record (16 bytes at word 4r).
QV3_TARGET_AESNI inline __m128i RoundKey(const uint32_t* roundKeys, unsigned r) {
  return Load(roundKeys + 4 * r);
}

QV3_TARGET_AESNI inline __m128i Encrypt(const uint32_t* rk, unsigned nr, __m128i x) {
  x = _mm_xor_si128(x, RoundKey(rk, 0));
  for (unsigned r = 1; r < nr; ++r) x = _mm_aesenc_si128(x, RoundKey(rk, r));
  return _mm_aesenclast_si128(x, RoundKey(rk, nr));
}

QV3_TARGET_AESNI inline __m128i Decrypt(const uint32_t* rk, unsigned nr, __m128i x) {
  x = _mm_xor_si128(x, RoundKey(rk, 0));
  for (unsigned r = 1; r < nr; ++r) x = _mm_aesdec_si128(x, RoundKey(rk, r));
  return _mm_aesdeclast_si128(x, RoundKey(rk, nr));
}

QV3_TARGET_AESNI int EncryptBlockNi(const uint8_t in[16], uint8_t out[16],
                                    const AesEncryptContext* ctx) {
  const unsigned nr = AesRoundCount(ctx->roundInfo);
  if (nr == 0) return -1;
  Store(out, Encrypt(ctx->roundKeys, nr, Load(in)));
  return 0;
}

QV3_TARGET_AESNI int DecryptBlockNi(const uint8_t in[16], uint8_t out[16],
                                    const AesDecryptContext* ctx) {
  const unsigned nr = AesRoundCount(ctx->roundInfo);
  if (nr == 0) return -1;
  Store(out, Decrypt(ctx->roundKeys, nr, Load(in)));
  return 0;
}

// Serial by nature: each block needs the previous ciphertext, so the speed is the
// latency of one chain. Block i enters round 1 as P[i] ^ C[i-1] ^ k0, and the last
// round of block i-1 ends with an XOR by its round key: given k[nr] ^ k0 ^ P[i] as that
// key, it yields block i's round-1 input at once. The chain then runs through one AES
// instruction per round and nothing else; C[i-1] itself comes from a second last round
// beside it, off the chain.
template <unsigned Nr>
QV3_TARGET_AESNI void CbcEncryptChain(const uint32_t* rk, uint8_t iv[16], const uint8_t* in,
                                      uint8_t* out, size_t blocks) {
  __m128i k[Nr + 1];
  for (unsigned r = 0; r <= Nr; ++r) k[r] = RoundKey(rk, r);
  const __m128i lastAndFirst = _mm_xor_si128(k[Nr], k[0]);
  __m128i x = _mm_xor_si128(_mm_xor_si128(Load(in), Load(iv)), k[0]);
  for (;;) {
    for (unsigned r = 1; r < Nr; ++r) x = _mm_aesenc_si128(x, k[r]);
    Store(out, _mm_aesenclast_si128(x, k[Nr]));
    if (--blocks == 0) break;
    in += 16;
    out += 16;
    // in == out is allowed: this block's input is read after only the one before it
    // was written.
    x = _mm_aesenclast_si128(x, _mm_xor_si128(Load(in), lastAndFirst));
  }
  Store(iv, Load(out));
  // The round keys were copied here: no copy of them outlives the call.
  SecureWipe(k, sizeof k);
}

QV3_TARGET_AESNI int CbcEncryptNi(const AesEncryptContext& ctx, uint8_t iv[16], const uint8_t* in,
                                  uint8_t* out, size_t blocks) {
  const unsigned nr = AesRoundCount(ctx.roundInfo);
  if (nr == 0) return -1;
  if (blocks == 0) return 0;
  switch (nr) {
    case 10: CbcEncryptChain<10>(ctx.roundKeys, iv, in, out, blocks); break;
    case 12: CbcEncryptChain<12>(ctx.roundKeys, iv, in, out, blocks); break;
    default: CbcEncryptChain<14>(ctx.roundKeys, iv, in, out, blocks); break;
  }
  return 0;
}

// Decryption of one block does not depend on the others, so eight run interleaved to
// hide the latency of aesdec; the chaining XOR follows. All eight ciphertext blocks and
// the next chaining value are read before any output is written (in == out is allowed).
QV3_TARGET_AESNI int CbcDecryptNi(const AesDecryptContext& ctx, uint8_t iv[16], const uint8_t* in,
                                  uint8_t* out, size_t blocks) {
  const unsigned nr = AesRoundCount(ctx.roundInfo);
  if (nr == 0) return -1;
  const uint32_t* rk = ctx.roundKeys;
  __m128i prev = Load(iv);
  for (; blocks >= 8; blocks -= 8, in += 128, out += 128) {
    __m128i k = RoundKey(rk, 0);
    __m128i x0 = _mm_xor_si128(Load(in), k);
    __m128i x1 = _mm_xor_si128(Load(in + 16), k);
    __m128i x2 = _mm_xor_si128(Load(in + 32), k);
    __m128i x3 = _mm_xor_si128(Load(in + 48), k);
    __m128i x4 = _mm_xor_si128(Load(in + 64), k);
    __m128i x5 = _mm_xor_si128(Load(in + 80), k);
    __m128i x6 = _mm_xor_si128(Load(in + 96), k);
    __m128i x7 = _mm_xor_si128(Load(in + 112), k);
    for (unsigned r = 1; r < nr; ++r) {
      k = RoundKey(rk, r);
      x0 = _mm_aesdec_si128(x0, k);
      x1 = _mm_aesdec_si128(x1, k);
      x2 = _mm_aesdec_si128(x2, k);
      x3 = _mm_aesdec_si128(x3, k);
      x4 = _mm_aesdec_si128(x4, k);
      x5 = _mm_aesdec_si128(x5, k);
      x6 = _mm_aesdec_si128(x6, k);
      x7 = _mm_aesdec_si128(x7, k);
    }
    k = RoundKey(rk, nr);
    // The ciphertext is read again here rather than kept in registers (there are too
    // few); nothing has been written to out yet, so this holds in place too.
    x0 = _mm_xor_si128(_mm_aesdeclast_si128(x0, k), prev);
    x1 = _mm_xor_si128(_mm_aesdeclast_si128(x1, k), Load(in));
    x2 = _mm_xor_si128(_mm_aesdeclast_si128(x2, k), Load(in + 16));
    x3 = _mm_xor_si128(_mm_aesdeclast_si128(x3, k), Load(in + 32));
    x4 = _mm_xor_si128(_mm_aesdeclast_si128(x4, k), Load(in + 48));
    x5 = _mm_xor_si128(_mm_aesdeclast_si128(x5, k), Load(in + 64));
    x6 = _mm_xor_si128(_mm_aesdeclast_si128(x6, k), Load(in + 80));
    x7 = _mm_xor_si128(_mm_aesdeclast_si128(x7, k), Load(in + 96));
    prev = Load(in + 112);
    Store(out, x0);
    Store(out + 16, x1);
    Store(out + 32, x2);
    Store(out + 48, x3);
    Store(out + 64, x4);
    Store(out + 80, x5);
    Store(out + 96, x6);
    Store(out + 112, x7);
  }
  for (; blocks > 0; --blocks, in += 16, out += 16) {
    const __m128i c = Load(in);
    Store(out, _mm_xor_si128(Decrypt(rk, nr, c), prev));
    prev = c;
  }
  Store(iv, prev);
  return 0;
}

}  // namespace

const AesImplementation kAesNi = {"aes-ni", EncryptBlockNi, DecryptBlockNi, CbcEncryptNi,
                                  CbcDecryptNi};
