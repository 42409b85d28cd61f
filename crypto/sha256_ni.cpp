#include <immintrin.h>

#include "crypto/sha256.h"

// The compression function on the x86 SHA extensions. Only this file's functions are
// compiled for them (function-level target attributes), so the rest of the program runs
// on any x86 CPU; dispatch.cpp calls it only where cpuid reports SHA, SSSE3 and SSE4.1.
// Every memory access is an unaligned load or store: neither the caller's data nor the
// state are 16-byte aligned, and a 32-bit Windows stack may not be either.

#define QV3_TARGET_SHA __attribute__((target("sha,sse4.1,ssse3")))

namespace {

// Four rounds 4q..4q+3 on the message words in `cur`, which hold W[4q..4q+3]. Along the
// way the schedule is advanced: `next` receives W[4q+4..4q+7] (from q = 3 to 14) and
// `prev` the first half of its own next expansion (from q = 1 to 12).
#define QV3_QUAD(q, cur, next, prev, k3, k2, k1, k0)                   \
  do {                                                                 \
    __m128i msg = _mm_add_epi32(cur, _mm_set_epi32(k3, k2, k1, k0));   \
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, msg);                     \
    if ((q) >= 3 && (q) <= 14) {                                       \
      next = _mm_add_epi32(next, _mm_alignr_epi8(cur, prev, 4));       \
      next = _mm_sha256msg2_epu32(next, cur);                          \
    }                                                                  \
    msg = _mm_shuffle_epi32(msg, 0x0E);                                \
    abef = _mm_sha256rnds2_epu32(abef, cdgh, msg);                     \
    if ((q) >= 1 && (q) <= 12) prev = _mm_sha256msg1_epu32(prev, cur); \
  } while (0)

QV3_TARGET_SHA void CompressShaNi(uint32_t state[8], const uint8_t* data, size_t blocks) {
  // Big-endian message words to little-endian lanes.
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);

  // The instructions want the state as {A,B,E,F} and {C,D,G,H} (A in the top lane).
  __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
  const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

  for (; blocks != 0; --blocks, data += 64) {
    const __m128i abefStart = abef;
    const __m128i cdghStart = cdgh;

    __m128i m0 =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data)), byteSwap);
    __m128i m1 =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16)), byteSwap);
    __m128i m2 =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 32)), byteSwap);
    __m128i m3 =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 48)), byteSwap);

    // The constants are passed as signed lanes; the bit patterns are FIPS 180-2's K.
#define K(x) static_cast<int>(0x##x##u)
    QV3_QUAD(0, m0, m1, m3, K(e9b5dba5), K(b5c0fbcf), K(71374491), K(428a2f98));
    QV3_QUAD(1, m1, m2, m0, K(ab1c5ed5), K(923f82a4), K(59f111f1), K(3956c25b));
    QV3_QUAD(2, m2, m3, m1, K(550c7dc3), K(243185be), K(12835b01), K(d807aa98));
    QV3_QUAD(3, m3, m0, m2, K(c19bf174), K(9bdc06a7), K(80deb1fe), K(72be5d74));
    QV3_QUAD(4, m0, m1, m3, K(240ca1cc), K(0fc19dc6), K(efbe4786), K(e49b69c1));
    QV3_QUAD(5, m1, m2, m0, K(76f988da), K(5cb0a9dc), K(4a7484aa), K(2de92c6f));
    QV3_QUAD(6, m2, m3, m1, K(bf597fc7), K(b00327c8), K(a831c66d), K(983e5152));
    QV3_QUAD(7, m3, m0, m2, K(14292967), K(06ca6351), K(d5a79147), K(c6e00bf3));
    QV3_QUAD(8, m0, m1, m3, K(53380d13), K(4d2c6dfc), K(2e1b2138), K(27b70a85));
    QV3_QUAD(9, m1, m2, m0, K(92722c85), K(81c2c92e), K(766a0abb), K(650a7354));
    QV3_QUAD(10, m2, m3, m1, K(c76c51a3), K(c24b8b70), K(a81a664b), K(a2bfe8a1));
    QV3_QUAD(11, m3, m0, m2, K(106aa070), K(f40e3585), K(d6990624), K(d192e819));
    QV3_QUAD(12, m0, m1, m3, K(34b0bcb5), K(2748774c), K(1e376c08), K(19a4c116));
    QV3_QUAD(13, m1, m2, m0, K(682e6ff3), K(5b9cca4f), K(4ed8aa4a), K(391c0cb3));
    QV3_QUAD(14, m2, m3, m1, K(8cc70208), K(84c87814), K(78a5636f), K(748f82ee));
    QV3_QUAD(15, m3, m0, m2, K(c67178f2), K(bef9a3f7), K(a4506ceb), K(90befffa));
#undef K

    abef = _mm_add_epi32(abef, abefStart);
    cdgh = _mm_add_epi32(cdgh, cdghStart);
  }

  // Back to H0..H7 in memory order.
  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  dcba = _mm_blend_epi16(feba, dchg, 0xF0);
  hgfe = _mm_alignr_epi8(dchg, feba, 8);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), dcba);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), hgfe);
}

#undef QV3_QUAD

}  // namespace

const Sha256Implementation kSha256Ni = {"sha-ni", CompressShaNi};
