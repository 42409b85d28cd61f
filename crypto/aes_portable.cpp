// Portable, table-driven AES-256 and the key set-ups shared by every implementation.
//
// Every table lookup below is indexed by key- and data-dependent bytes, so this code's
// cache footprint depends on secrets; dispatch.cpp prefers AES-NI wherever the CPU has
// it and falls back to this file only where nothing better exists.
//
// Word layout: a 32-bit word holds four consecutive bytes b0..b3 (FIPS-197 order: a
// key word, or a state column from row 0 to row 3) as b0 | b1 << 8 | b2 << 16 | b3 << 24,
// i.e. a little-endian load of those bytes. The round keys are stored the same way, so
// their 240 bytes read in address order are the FIPS-197 round keys, which is also what
// the AES-NI path loads. Every table below is built for that layout.

#include <cstring>

#include "crypto/aes.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the AES tables and the round-key layout assume a little-endian target");

namespace {

constexpr uint8_t kSbox[256] = {
    0x63, 0x7c, 0x77, 0x7b, 0xf2, 0x6b, 0x6f, 0xc5, 0x30, 0x01, 0x67, 0x2b, 0xfe, 0xd7, 0xab, 0x76,
    0xca, 0x82, 0xc9, 0x7d, 0xfa, 0x59, 0x47, 0xf0, 0xad, 0xd4, 0xa2, 0xaf, 0x9c, 0xa4, 0x72, 0xc0,
    0xb7, 0xfd, 0x93, 0x26, 0x36, 0x3f, 0xf7, 0xcc, 0x34, 0xa5, 0xe5, 0xf1, 0x71, 0xd8, 0x31, 0x15,
    0x04, 0xc7, 0x23, 0xc3, 0x18, 0x96, 0x05, 0x9a, 0x07, 0x12, 0x80, 0xe2, 0xeb, 0x27, 0xb2, 0x75,
    0x09, 0x83, 0x2c, 0x1a, 0x1b, 0x6e, 0x5a, 0xa0, 0x52, 0x3b, 0xd6, 0xb3, 0x29, 0xe3, 0x2f, 0x84,
    0x53, 0xd1, 0x00, 0xed, 0x20, 0xfc, 0xb1, 0x5b, 0x6a, 0xcb, 0xbe, 0x39, 0x4a, 0x4c, 0x58, 0xcf,
    0xd0, 0xef, 0xaa, 0xfb, 0x43, 0x4d, 0x33, 0x85, 0x45, 0xf9, 0x02, 0x7f, 0x50, 0x3c, 0x9f, 0xa8,
    0x51, 0xa3, 0x40, 0x8f, 0x92, 0x9d, 0x38, 0xf5, 0xbc, 0xb6, 0xda, 0x21, 0x10, 0xff, 0xf3, 0xd2,
    0xcd, 0x0c, 0x13, 0xec, 0x5f, 0x97, 0x44, 0x17, 0xc4, 0xa7, 0x7e, 0x3d, 0x64, 0x5d, 0x19, 0x73,
    0x60, 0x81, 0x4f, 0xdc, 0x22, 0x2a, 0x90, 0x88, 0x46, 0xee, 0xb8, 0x14, 0xde, 0x5e, 0x0b, 0xdb,
    0xe0, 0x32, 0x3a, 0x0a, 0x49, 0x06, 0x24, 0x5c, 0xc2, 0xd3, 0xac, 0x62, 0x91, 0x95, 0xe4, 0x79,
    0xe7, 0xc8, 0x37, 0x6d, 0x8d, 0xd5, 0x4e, 0xa9, 0x6c, 0x56, 0xf4, 0xea, 0x65, 0x7a, 0xae, 0x08,
    0xba, 0x78, 0x25, 0x2e, 0x1c, 0xa6, 0xb4, 0xc6, 0xe8, 0xdd, 0x74, 0x1f, 0x4b, 0xbd, 0x8b, 0x8a,
    0x70, 0x3e, 0xb5, 0x66, 0x48, 0x03, 0xf6, 0x0e, 0x61, 0x35, 0x57, 0xb9, 0x86, 0xc1, 0x1d, 0x9e,
    0xe1, 0xf8, 0x98, 0x11, 0x69, 0xd9, 0x8e, 0x94, 0x9b, 0x1e, 0x87, 0xe9, 0xce, 0x55, 0x28, 0xdf,
    0x8c, 0xa1, 0x89, 0x0d, 0xbf, 0xe6, 0x42, 0x68, 0x41, 0x99, 0x2d, 0x0f, 0xb0, 0x54, 0xbb, 0x16,
};

constexpr uint8_t kInvSbox[256] = {
    0x52, 0x09, 0x6a, 0xd5, 0x30, 0x36, 0xa5, 0x38, 0xbf, 0x40, 0xa3, 0x9e, 0x81, 0xf3, 0xd7, 0xfb,
    0x7c, 0xe3, 0x39, 0x82, 0x9b, 0x2f, 0xff, 0x87, 0x34, 0x8e, 0x43, 0x44, 0xc4, 0xde, 0xe9, 0xcb,
    0x54, 0x7b, 0x94, 0x32, 0xa6, 0xc2, 0x23, 0x3d, 0xee, 0x4c, 0x95, 0x0b, 0x42, 0xfa, 0xc3, 0x4e,
    0x08, 0x2e, 0xa1, 0x66, 0x28, 0xd9, 0x24, 0xb2, 0x76, 0x5b, 0xa2, 0x49, 0x6d, 0x8b, 0xd1, 0x25,
    0x72, 0xf8, 0xf6, 0x64, 0x86, 0x68, 0x98, 0x16, 0xd4, 0xa4, 0x5c, 0xcc, 0x5d, 0x65, 0xb6, 0x92,
    0x6c, 0x70, 0x48, 0x50, 0xfd, 0xed, 0xb9, 0xda, 0x5e, 0x15, 0x46, 0x57, 0xa7, 0x8d, 0x9d, 0x84,
    0x90, 0xd8, 0xab, 0x00, 0x8c, 0xbc, 0xd3, 0x0a, 0xf7, 0xe4, 0x58, 0x05, 0xb8, 0xb3, 0x45, 0x06,
    0xd0, 0x2c, 0x1e, 0x8f, 0xca, 0x3f, 0x0f, 0x02, 0xc1, 0xaf, 0xbd, 0x03, 0x01, 0x13, 0x8a, 0x6b,
    0x3a, 0x91, 0x11, 0x41, 0x4f, 0x67, 0xdc, 0xea, 0x97, 0xf2, 0xcf, 0xce, 0xf0, 0xb4, 0xe6, 0x73,
    0x96, 0xac, 0x74, 0x22, 0xe7, 0xad, 0x35, 0x85, 0xe2, 0xf9, 0x37, 0xe8, 0x1c, 0x75, 0xdf, 0x6e,
    0x47, 0xf1, 0x1a, 0x71, 0x1d, 0x29, 0xc5, 0x89, 0x6f, 0xb7, 0x62, 0x0e, 0xaa, 0x18, 0xbe, 0x1b,
    0xfc, 0x56, 0x3e, 0x4b, 0xc6, 0xd2, 0x79, 0x20, 0x9a, 0xdb, 0xc0, 0xfe, 0x78, 0xcd, 0x5a, 0xf4,
    0x1f, 0xdd, 0xa8, 0x33, 0x88, 0x07, 0xc7, 0x31, 0xb1, 0x12, 0x10, 0x59, 0x27, 0x80, 0xec, 0x5f,
    0x60, 0x51, 0x7f, 0xa9, 0x19, 0xb5, 0x4a, 0x0d, 0x2d, 0xe5, 0x7a, 0x9f, 0x93, 0xc9, 0x9c, 0xef,
    0xa0, 0xe0, 0x3b, 0x4d, 0xae, 0x2a, 0xf5, 0xb0, 0xc8, 0xeb, 0xbb, 0x3c, 0x83, 0x53, 0x99, 0x61,
    0x17, 0x2b, 0x04, 0x7e, 0xba, 0x77, 0xd6, 0x26, 0xe1, 0x69, 0x14, 0x63, 0x55, 0x21, 0x0c, 0x7d,
};

// Round constants for the key expansion, in the low-order byte (byte 0 of a key word).
constexpr uint32_t kRcon[10] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x1b, 0x36};

// ---- Tables, computed by the compiler -------------------------------------------------

// Product in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1.
constexpr uint32_t GfMul(uint32_t a, uint32_t b) {
  uint32_t r = 0;
  for (int i = 0; i < 8; ++i) {
    if (b & 1) r ^= a;
    a = (a & 0x80) ? ((a << 1) ^ 0x11b) : (a << 1);
    b >>= 1;
  }
  return r;
}

constexpr uint32_t Rotl(uint32_t w, int bits) {
  return bits == 0 ? w : (w << bits) | (w >> (32 - bits));
}

// Four tables, one per byte position of a state column: table k is table 0 rotated left
// by 8k bits, so a byte from row k contributes to the column as if it sat in row 0.
struct TableSet {
  uint32_t t[4][256];
};

// Table 0 entry for byte x: v = box[x] (or x itself without substitution), multiplied by
// the column (m0, m1, m2, m3) into bytes 0..3. A zero multiplier leaves its byte empty.
constexpr TableSet MakeTableSet(const uint8_t* box, uint32_t m0, uint32_t m1, uint32_t m2,
                                uint32_t m3) {
  TableSet set{};
  for (uint32_t x = 0; x < 256; ++x) {
    const uint32_t v = box ? box[x] : x;
    const uint32_t word =
        GfMul(v, m0) | GfMul(v, m1) << 8 | GfMul(v, m2) << 16 | GfMul(v, m3) << 24;
    for (int k = 0; k < 4; ++k) set.t[k][x] = Rotl(word, 8 * k);
  }
  return set;
}

// SubBytes + MixColumns (column 2, 1, 1, 3) and the last round's SubBytes alone.
constexpr TableSet kForward = MakeTableSet(kSbox, 2, 1, 1, 3);
constexpr TableSet kForwardLast = MakeTableSet(kSbox, 1, 0, 0, 0);
// InvSubBytes + InvMixColumns (column 14, 9, 13, 11) and the last inverse round.
constexpr TableSet kInverse = MakeTableSet(kInvSbox, 14, 9, 13, 11);
constexpr TableSet kInverseLast = MakeTableSet(kInvSbox, 1, 0, 0, 0);
// InvMixColumns alone, for the decryption key set-up.
constexpr TableSet kInvMix = MakeTableSet(nullptr, 14, 9, 13, 11);

// Spot checks of the byte layout (b0 in the low-order byte of each word).
static_assert(kForward.t[0][0x00] == 0xa56363c6u && kForward.t[1][0x53] == 0xededc12cu,
              "forward round tables");
static_assert(kInverse.t[0][0x00] == 0x50a7f451u, "inverse round tables");
static_assert(kForwardLast.t[3][0x01] == 0x7c000000u, "forward last-round tables");
static_assert(kInvMix.t[0][0x01] == 0x0b0d090eu, "InvMixColumns tables");

// ---- Helpers ----------------------------------------------------------------------------

inline uint32_t Load32(const uint8_t* p) {
  uint32_t w;
  std::memcpy(&w, p, 4);
  return w;
}

inline void Store32(uint8_t* p, uint32_t w) { std::memcpy(p, &w, 4); }

#define QV3_B0(w) ((w)&0xff)
#define QV3_B1(w) (((w) >> 8) & 0xff)
#define QV3_B2(w) (((w) >> 16) & 0xff)
#define QV3_B3(w) ((w) >> 24)


inline uint32_t SubWord(uint32_t w) {
  return kForwardLast.t[0][QV3_B0(w)] ^ kForwardLast.t[1][QV3_B1(w)] ^
         kForwardLast.t[2][QV3_B2(w)] ^ kForwardLast.t[3][QV3_B3(w)];
}

// SubWord(RotWord(w)): RotWord moves byte 1 to byte 0, ..., byte 0 to byte 3.
inline uint32_t SubRotWord(uint32_t w) {
  return kForwardLast.t[0][QV3_B1(w)] ^ kForwardLast.t[1][QV3_B2(w)] ^
         kForwardLast.t[2][QV3_B3(w)] ^ kForwardLast.t[3][QV3_B0(w)];
}

inline uint32_t InvMixColumn(uint32_t w) {
  return kInvMix.t[0][QV3_B0(w)] ^ kInvMix.t[1][QV3_B1(w)] ^ kInvMix.t[2][QV3_B2(w)] ^
         kInvMix.t[3][QV3_B3(w)];
}

// ---- Key expansion (FIPS-197 5.2, Nk = 8), unrolled --------------------------------------

// Words i .. i+7 from the eight before them; rc is the round constant of word i.
#define QV3_EXPAND8(w, i, rc)                    \
  w[i] = w[i - 8] ^ SubRotWord(w[i - 1]) ^ (rc); \
  w[i + 1] = w[i - 7] ^ w[i];                    \
  w[i + 2] = w[i - 6] ^ w[i + 1];                \
  w[i + 3] = w[i - 5] ^ w[i + 2];                \
  w[i + 4] = w[i - 4] ^ SubWord(w[i + 3]);       \
  w[i + 5] = w[i - 3] ^ w[i + 4];                \
  w[i + 6] = w[i - 2] ^ w[i + 5];                \
  w[i + 7] = w[i - 1] ^ w[i + 6];

void ExpandKey(const uint8_t key[32], uint32_t w[60]) {
  w[0] = Load32(key);
  w[1] = Load32(key + 4);
  w[2] = Load32(key + 8);
  w[3] = Load32(key + 12);
  w[4] = Load32(key + 16);
  w[5] = Load32(key + 20);
  w[6] = Load32(key + 24);
  w[7] = Load32(key + 28);
  QV3_EXPAND8(w, 8, kRcon[0])
  QV3_EXPAND8(w, 16, kRcon[1])
  QV3_EXPAND8(w, 24, kRcon[2])
  QV3_EXPAND8(w, 32, kRcon[3])
  QV3_EXPAND8(w, 40, kRcon[4])
  QV3_EXPAND8(w, 48, kRcon[5])
  // Round key 14 needs only the first half of the last group.
  w[56] = w[48] ^ SubRotWord(w[55]) ^ kRcon[6];
  w[57] = w[49] ^ w[56];
  w[58] = w[50] ^ w[57];
  w[59] = w[51] ^ w[58];
}

#undef QV3_EXPAND8

// ---- Block rounds, unrolled ----------------------------------------------------------------

// One full round from state i0..i3 into o0..o3 with round key rk[0..3]. Output column j
// takes row r from input column j + r (ShiftRows); the tables do SubBytes and MixColumns.
#define QV3_ENC_ROUND(o, i, rk)                                                                    \
  o##0 = kForward.t[0][QV3_B0(i##0)] ^ kForward.t[1][QV3_B1(i##1)] ^ kForward.t[2][QV3_B2(i##2)] ^ \
         kForward.t[3][QV3_B3(i##3)] ^ (rk)[0];                                                    \
  o##1 = kForward.t[0][QV3_B0(i##1)] ^ kForward.t[1][QV3_B1(i##2)] ^ kForward.t[2][QV3_B2(i##3)] ^ \
         kForward.t[3][QV3_B3(i##0)] ^ (rk)[1];                                                    \
  o##2 = kForward.t[0][QV3_B0(i##2)] ^ kForward.t[1][QV3_B1(i##3)] ^ kForward.t[2][QV3_B2(i##0)] ^ \
         kForward.t[3][QV3_B3(i##1)] ^ (rk)[2];                                                    \
  o##3 = kForward.t[0][QV3_B0(i##3)] ^ kForward.t[1][QV3_B1(i##0)] ^ kForward.t[2][QV3_B2(i##1)] ^ \
         kForward.t[3][QV3_B3(i##2)] ^ (rk)[3];

#define QV3_ENC_LAST(o, i, rk)                                                        \
  o##0 = kForwardLast.t[0][QV3_B0(i##0)] ^ kForwardLast.t[1][QV3_B1(i##1)] ^          \
         kForwardLast.t[2][QV3_B2(i##2)] ^ kForwardLast.t[3][QV3_B3(i##3)] ^ (rk)[0]; \
  o##1 = kForwardLast.t[0][QV3_B0(i##1)] ^ kForwardLast.t[1][QV3_B1(i##2)] ^          \
         kForwardLast.t[2][QV3_B2(i##3)] ^ kForwardLast.t[3][QV3_B3(i##0)] ^ (rk)[1]; \
  o##2 = kForwardLast.t[0][QV3_B0(i##2)] ^ kForwardLast.t[1][QV3_B1(i##3)] ^          \
         kForwardLast.t[2][QV3_B2(i##0)] ^ kForwardLast.t[3][QV3_B3(i##1)] ^ (rk)[2]; \
  o##3 = kForwardLast.t[0][QV3_B0(i##3)] ^ kForwardLast.t[1][QV3_B1(i##0)] ^          \
         kForwardLast.t[2][QV3_B2(i##1)] ^ kForwardLast.t[3][QV3_B3(i##2)] ^ (rk)[3];

// Inverse rounds: output column j takes row r from input column j - r (InvShiftRows).
#define QV3_DEC_ROUND(o, i, rk)                                                                    \
  o##0 = kInverse.t[0][QV3_B0(i##0)] ^ kInverse.t[1][QV3_B1(i##3)] ^ kInverse.t[2][QV3_B2(i##2)] ^ \
         kInverse.t[3][QV3_B3(i##1)] ^ (rk)[0];                                                    \
  o##1 = kInverse.t[0][QV3_B0(i##1)] ^ kInverse.t[1][QV3_B1(i##0)] ^ kInverse.t[2][QV3_B2(i##3)] ^ \
         kInverse.t[3][QV3_B3(i##2)] ^ (rk)[1];                                                    \
  o##2 = kInverse.t[0][QV3_B0(i##2)] ^ kInverse.t[1][QV3_B1(i##1)] ^ kInverse.t[2][QV3_B2(i##0)] ^ \
         kInverse.t[3][QV3_B3(i##3)] ^ (rk)[2];                                                    \
  o##3 = kInverse.t[0][QV3_B0(i##3)] ^ kInverse.t[1][QV3_B1(i##2)] ^ kInverse.t[2][QV3_B2(i##1)] ^ \
         kInverse.t[3][QV3_B3(i##0)] ^ (rk)[3];

#define QV3_DEC_LAST(o, i, rk)                                                        \
  o##0 = kInverseLast.t[0][QV3_B0(i##0)] ^ kInverseLast.t[1][QV3_B1(i##3)] ^          \
         kInverseLast.t[2][QV3_B2(i##2)] ^ kInverseLast.t[3][QV3_B3(i##1)] ^ (rk)[0]; \
  o##1 = kInverseLast.t[0][QV3_B0(i##1)] ^ kInverseLast.t[1][QV3_B1(i##0)] ^          \
         kInverseLast.t[2][QV3_B2(i##3)] ^ kInverseLast.t[3][QV3_B3(i##2)] ^ (rk)[1]; \
  o##2 = kInverseLast.t[0][QV3_B0(i##2)] ^ kInverseLast.t[1][QV3_B1(i##1)] ^          \
         kInverseLast.t[2][QV3_B2(i##0)] ^ kInverseLast.t[3][QV3_B3(i##3)] ^ (rk)[2]; \
  o##3 = kInverseLast.t[0][QV3_B0(i##3)] ^ kInverseLast.t[1][QV3_B1(i##2)] ^          \
         kInverseLast.t[2][QV3_B2(i##1)] ^ kInverseLast.t[3][QV3_B3(i##0)] ^ (rk)[3];

// The block state s0..s3 (input columns, not yet keyed) becomes the output columns.
// nr is 10, 12 or 14; rk holds round keys 0..nr.
inline void EncryptState(const uint32_t* rk, unsigned nr, uint32_t& s0, uint32_t& s1, uint32_t& s2,
                         uint32_t& s3) {
  uint32_t t0, t1, t2, t3;
  s0 ^= rk[0];
  s1 ^= rk[1];
  s2 ^= rk[2];
  s3 ^= rk[3];
  QV3_ENC_ROUND(t, s, rk + 4)
  QV3_ENC_ROUND(s, t, rk + 8)
  QV3_ENC_ROUND(t, s, rk + 12)
  QV3_ENC_ROUND(s, t, rk + 16)
  QV3_ENC_ROUND(t, s, rk + 20)
  QV3_ENC_ROUND(s, t, rk + 24)
  QV3_ENC_ROUND(t, s, rk + 28)
  QV3_ENC_ROUND(s, t, rk + 32)
  QV3_ENC_ROUND(t, s, rk + 36)
  if (nr > 10) {
    QV3_ENC_ROUND(s, t, rk + 40)
    QV3_ENC_ROUND(t, s, rk + 44)
    if (nr > 12) {
      QV3_ENC_ROUND(s, t, rk + 48)
      QV3_ENC_ROUND(t, s, rk + 52)
    }
  }
  QV3_ENC_LAST(s, t, rk + 4 * nr)
}

// The equivalent inverse cipher: slot 0 first, slot nr last.
inline void DecryptState(const uint32_t* rk, unsigned nr, uint32_t& s0, uint32_t& s1, uint32_t& s2,
                         uint32_t& s3) {
  uint32_t t0, t1, t2, t3;
  s0 ^= rk[0];
  s1 ^= rk[1];
  s2 ^= rk[2];
  s3 ^= rk[3];
  QV3_DEC_ROUND(t, s, rk + 4)
  QV3_DEC_ROUND(s, t, rk + 8)
  QV3_DEC_ROUND(t, s, rk + 12)
  QV3_DEC_ROUND(s, t, rk + 16)
  QV3_DEC_ROUND(t, s, rk + 20)
  QV3_DEC_ROUND(s, t, rk + 24)
  QV3_DEC_ROUND(t, s, rk + 28)
  QV3_DEC_ROUND(s, t, rk + 32)
  QV3_DEC_ROUND(t, s, rk + 36)
  if (nr > 10) {
    QV3_DEC_ROUND(s, t, rk + 40)
    QV3_DEC_ROUND(t, s, rk + 44)
    if (nr > 12) {
      QV3_DEC_ROUND(s, t, rk + 48)
      QV3_DEC_ROUND(t, s, rk + 52)
    }
  }
  QV3_DEC_LAST(s, t, rk + 4 * nr)
}

#undef QV3_ENC_ROUND
#undef QV3_ENC_LAST
#undef QV3_DEC_ROUND
#undef QV3_DEC_LAST

// ---- The portable implementation -----------------------------------------------------------

int EncryptBlockPortable(const uint8_t in[16], uint8_t out[16], const AesEncryptContext* ctx) {
  const unsigned nr = AesRoundCount(ctx->roundInfo);
  if (nr == 0) return -1;
  uint32_t s0 = Load32(in), s1 = Load32(in + 4), s2 = Load32(in + 8), s3 = Load32(in + 12);
  EncryptState(ctx->roundKeys, nr, s0, s1, s2, s3);
  Store32(out, s0);
  Store32(out + 4, s1);
  Store32(out + 8, s2);
  Store32(out + 12, s3);
  return 0;
}

int DecryptBlockPortable(const uint8_t in[16], uint8_t out[16], const AesDecryptContext* ctx) {
  const unsigned nr = AesRoundCount(ctx->roundInfo);
  if (nr == 0) return -1;
  uint32_t s0 = Load32(in), s1 = Load32(in + 4), s2 = Load32(in + 8), s3 = Load32(in + 12);
  DecryptState(ctx->roundKeys, nr, s0, s1, s2, s3);
  Store32(out, s0);
  Store32(out + 4, s1);
  Store32(out + 8, s2);
  Store32(out + 12, s3);
  return 0;
}

int CbcEncryptPortable(const AesEncryptContext& ctx, uint8_t iv[16], const uint8_t* in,
                       uint8_t* out, size_t blocks) {
  const unsigned nr = AesRoundCount(ctx.roundInfo);
  if (nr == 0) return -1;
  uint32_t c0 = Load32(iv), c1 = Load32(iv + 4), c2 = Load32(iv + 8), c3 = Load32(iv + 12);
  for (; blocks > 0; --blocks, in += 16, out += 16) {
    c0 ^= Load32(in);
    c1 ^= Load32(in + 4);
    c2 ^= Load32(in + 8);
    c3 ^= Load32(in + 12);
    EncryptState(ctx.roundKeys, nr, c0, c1, c2, c3);
    Store32(out, c0);
    Store32(out + 4, c1);
    Store32(out + 8, c2);
    Store32(out + 12, c3);
  }
  Store32(iv, c0);
  Store32(iv + 4, c1);
  Store32(iv + 8, c2);
  Store32(iv + 12, c3);
  return 0;
}

int CbcDecryptPortable(const AesDecryptContext& ctx, uint8_t iv[16], const uint8_t* in,
                       uint8_t* out, size_t blocks) {
  const unsigned nr = AesRoundCount(ctx.roundInfo);
  if (nr == 0) return -1;
  uint32_t p0 = Load32(iv), p1 = Load32(iv + 4), p2 = Load32(iv + 8), p3 = Load32(iv + 12);
  for (; blocks > 0; --blocks, in += 16, out += 16) {
    // Keep the ciphertext: with in == out it is overwritten below, and it chains the next block.
    const uint32_t c0 = Load32(in), c1 = Load32(in + 4), c2 = Load32(in + 8), c3 = Load32(in + 12);
    uint32_t s0 = c0, s1 = c1, s2 = c2, s3 = c3;
    DecryptState(ctx.roundKeys, nr, s0, s1, s2, s3);
    Store32(out, s0 ^ p0);
    Store32(out + 4, s1 ^ p1);
    Store32(out + 8, s2 ^ p2);
    Store32(out + 12, s3 ^ p3);
    p0 = c0;
    p1 = c1;
    p2 = c2;
    p3 = c3;
  }
  Store32(iv, p0);
  Store32(iv + 4, p1);
  Store32(iv + 8, p2);
  Store32(iv + 12, p3);
  return 0;
}

}  // namespace

const AesImplementation kAesPortable = {"portable", EncryptBlockPortable, DecryptBlockPortable,
                                        CbcEncryptPortable, CbcDecryptPortable};

// The key set-ups serve every implementation: the records have one layout.
namespace AesCipher {

int SetEncryptKey(const uint8_t key[32], AesEncryptContext* ctx) {
  ExpandKey(key, ctx->roundKeys);
  ctx->roundInfo = 224;
  return 0;
}

// Expands in place, then reverses the order of the round keys and passes round keys
// 1 to 13 through InvMixColumns (FIPS-197 5.3.5), so no copy of the schedule is left
// anywhere but in the context.
int SetDecryptKey(const uint8_t key[32], AesDecryptContext* ctx) {
  uint32_t* rk = ctx->roundKeys;
  ExpandKey(key, rk);
#define QV3_SWAP_WORD(a, b, f) \
  {                            \
    const uint32_t x = rk[a];  \
    rk[a] = f(rk[b]);          \
    rk[b] = f(x);              \
  }
#define QV3_PLAIN(w) (w)
  // Slots 0 and 14: round keys 14 and 0, unchanged.
  QV3_SWAP_WORD(0, 56, QV3_PLAIN)
  QV3_SWAP_WORD(1, 57, QV3_PLAIN)
  QV3_SWAP_WORD(2, 58, QV3_PLAIN)
  QV3_SWAP_WORD(3, 59, QV3_PLAIN)
  // Slots s and 14 - s for s = 1..6: InvMixColumns of round keys 14 - s and s.
#define QV3_SWAP_SLOT(s)                                       \
  QV3_SWAP_WORD(4 * (s), 4 * (14 - (s)), InvMixColumn)         \
  QV3_SWAP_WORD(4 * (s) + 1, 4 * (14 - (s)) + 1, InvMixColumn) \
  QV3_SWAP_WORD(4 * (s) + 2, 4 * (14 - (s)) + 2, InvMixColumn) \
  QV3_SWAP_WORD(4 * (s) + 3, 4 * (14 - (s)) + 3, InvMixColumn)
  QV3_SWAP_SLOT(1)
  QV3_SWAP_SLOT(2)
  QV3_SWAP_SLOT(3)
  QV3_SWAP_SLOT(4)
  QV3_SWAP_SLOT(5)
  QV3_SWAP_SLOT(6)
#undef QV3_SWAP_SLOT
#undef QV3_PLAIN
#undef QV3_SWAP_WORD
  // Slot 7 is round key 7 itself.
  rk[28] = InvMixColumn(rk[28]);
  rk[29] = InvMixColumn(rk[29]);
  rk[30] = InvMixColumn(rk[30]);
  rk[31] = InvMixColumn(rk[31]);
  ctx->roundInfo = 224;
  return 0;
}

}  // namespace AesCipher
