#include "crypto/sha256.h"

// The portable compression function: every round and every schedule word is written out,
// with the round constants as immediates, so no loop counter or table lookup sits on
// the critical path. Message words are read a byte at a time, so any alignment works.

namespace {

inline uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t LoadBigEndian(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}

#define SIGMA0(x) (Rotr(x, 2) ^ Rotr(x, 13) ^ Rotr(x, 22))
#define SIGMA1(x) (Rotr(x, 6) ^ Rotr(x, 11) ^ Rotr(x, 25))
#define GAMMA0(x) (Rotr(x, 7) ^ Rotr(x, 18) ^ ((x) >> 3))
#define GAMMA1(x) (Rotr(x, 17) ^ Rotr(x, 19) ^ ((x) >> 10))
#define CH(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MAJ(x, y, z) (((x) & (y)) | ((z) & ((x) | (y))))

#define EXPAND(i) w[i] = GAMMA1(w[(i)-2]) + w[(i)-7] + GAMMA0(w[(i)-15]) + w[(i)-16]

// One round; the callers rotate the variable names instead of moving the values.
#define ROUND(a, b, c, d, e, f, g, h, i, k)                       \
  do {                                                            \
    const uint32_t t1 = h + SIGMA1(e) + CH(e, f, g) + (k) + w[i]; \
    const uint32_t t2 = SIGMA0(a) + MAJ(a, b, c);                 \
    d += t1;                                                      \
    h = t1 + t2;                                                  \
  } while (0)

void CompressPortable(uint32_t state[8], const uint8_t* data, size_t blocks) {
  for (; blocks != 0; --blocks, data += 64) {
    uint32_t w[64];
    w[0] = LoadBigEndian(data + 0);
    w[1] = LoadBigEndian(data + 4);
    w[2] = LoadBigEndian(data + 8);
    w[3] = LoadBigEndian(data + 12);
    w[4] = LoadBigEndian(data + 16);
    w[5] = LoadBigEndian(data + 20);
    w[6] = LoadBigEndian(data + 24);
    w[7] = LoadBigEndian(data + 28);
    w[8] = LoadBigEndian(data + 32);
    w[9] = LoadBigEndian(data + 36);
    w[10] = LoadBigEndian(data + 40);
    w[11] = LoadBigEndian(data + 44);
    w[12] = LoadBigEndian(data + 48);
    w[13] = LoadBigEndian(data + 52);
    w[14] = LoadBigEndian(data + 56);
    w[15] = LoadBigEndian(data + 60);
    EXPAND(16);
    EXPAND(17);
    EXPAND(18);
    EXPAND(19);
    EXPAND(20);
    EXPAND(21);
    EXPAND(22);
    EXPAND(23);
    EXPAND(24);
    EXPAND(25);
    EXPAND(26);
    EXPAND(27);
    EXPAND(28);
    EXPAND(29);
    EXPAND(30);
    EXPAND(31);
    EXPAND(32);
    EXPAND(33);
    EXPAND(34);
    EXPAND(35);
    EXPAND(36);
    EXPAND(37);
    EXPAND(38);
    EXPAND(39);
    EXPAND(40);
    EXPAND(41);
    EXPAND(42);
    EXPAND(43);
    EXPAND(44);
    EXPAND(45);
    EXPAND(46);
    EXPAND(47);
    EXPAND(48);
    EXPAND(49);
    EXPAND(50);
    EXPAND(51);
    EXPAND(52);
    EXPAND(53);
    EXPAND(54);
    EXPAND(55);
    EXPAND(56);
    EXPAND(57);
    EXPAND(58);
    EXPAND(59);
    EXPAND(60);
    EXPAND(61);
    EXPAND(62);
    EXPAND(63);

    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    ROUND(a, b, c, d, e, f, g, h, 0, 0x428a2f98);
    ROUND(h, a, b, c, d, e, f, g, 1, 0x71374491);
    ROUND(g, h, a, b, c, d, e, f, 2, 0xb5c0fbcf);
    ROUND(f, g, h, a, b, c, d, e, 3, 0xe9b5dba5);
    ROUND(e, f, g, h, a, b, c, d, 4, 0x3956c25b);
    ROUND(d, e, f, g, h, a, b, c, 5, 0x59f111f1);
    ROUND(c, d, e, f, g, h, a, b, 6, 0x923f82a4);
    ROUND(b, c, d, e, f, g, h, a, 7, 0xab1c5ed5);
    ROUND(a, b, c, d, e, f, g, h, 8, 0xd807aa98);
    ROUND(h, a, b, c, d, e, f, g, 9, 0x12835b01);
    ROUND(g, h, a, b, c, d, e, f, 10, 0x243185be);
    ROUND(f, g, h, a, b, c, d, e, 11, 0x550c7dc3);
    ROUND(e, f, g, h, a, b, c, d, 12, 0x72be5d74);
    ROUND(d, e, f, g, h, a, b, c, 13, 0x80deb1fe);
    ROUND(c, d, e, f, g, h, a, b, 14, 0x9bdc06a7);
    ROUND(b, c, d, e, f, g, h, a, 15, 0xc19bf174);
    ROUND(a, b, c, d, e, f, g, h, 16, 0xe49b69c1);
    ROUND(h, a, b, c, d, e, f, g, 17, 0xefbe4786);
    ROUND(g, h, a, b, c, d, e, f, 18, 0x0fc19dc6);
    ROUND(f, g, h, a, b, c, d, e, 19, 0x240ca1cc);
    ROUND(e, f, g, h, a, b, c, d, 20, 0x2de92c6f);
    ROUND(d, e, f, g, h, a, b, c, 21, 0x4a7484aa);
    ROUND(c, d, e, f, g, h, a, b, 22, 0x5cb0a9dc);
    ROUND(b, c, d, e, f, g, h, a, 23, 0x76f988da);
    ROUND(a, b, c, d, e, f, g, h, 24, 0x983e5152);
    ROUND(h, a, b, c, d, e, f, g, 25, 0xa831c66d);
    ROUND(g, h, a, b, c, d, e, f, 26, 0xb00327c8);
    ROUND(f, g, h, a, b, c, d, e, 27, 0xbf597fc7);
    ROUND(e, f, g, h, a, b, c, d, 28, 0xc6e00bf3);
    ROUND(d, e, f, g, h, a, b, c, 29, 0xd5a79147);
    ROUND(c, d, e, f, g, h, a, b, 30, 0x06ca6351);
    ROUND(b, c, d, e, f, g, h, a, 31, 0x14292967);
    ROUND(a, b, c, d, e, f, g, h, 32, 0x27b70a85);
    ROUND(h, a, b, c, d, e, f, g, 33, 0x2e1b2138);
    ROUND(g, h, a, b, c, d, e, f, 34, 0x4d2c6dfc);
    ROUND(f, g, h, a, b, c, d, e, 35, 0x53380d13);
    ROUND(e, f, g, h, a, b, c, d, 36, 0x650a7354);
    ROUND(d, e, f, g, h, a, b, c, 37, 0x766a0abb);
    ROUND(c, d, e, f, g, h, a, b, 38, 0x81c2c92e);
    ROUND(b, c, d, e, f, g, h, a, 39, 0x92722c85);
    ROUND(a, b, c, d, e, f, g, h, 40, 0xa2bfe8a1);
    ROUND(h, a, b, c, d, e, f, g, 41, 0xa81a664b);
    ROUND(g, h, a, b, c, d, e, f, 42, 0xc24b8b70);
    ROUND(f, g, h, a, b, c, d, e, 43, 0xc76c51a3);
    ROUND(e, f, g, h, a, b, c, d, 44, 0xd192e819);
    ROUND(d, e, f, g, h, a, b, c, 45, 0xd6990624);
    ROUND(c, d, e, f, g, h, a, b, 46, 0xf40e3585);
    ROUND(b, c, d, e, f, g, h, a, 47, 0x106aa070);
    ROUND(a, b, c, d, e, f, g, h, 48, 0x19a4c116);
    ROUND(h, a, b, c, d, e, f, g, 49, 0x1e376c08);
    ROUND(g, h, a, b, c, d, e, f, 50, 0x2748774c);
    ROUND(f, g, h, a, b, c, d, e, 51, 0x34b0bcb5);
    ROUND(e, f, g, h, a, b, c, d, 52, 0x391c0cb3);
    ROUND(d, e, f, g, h, a, b, c, 53, 0x4ed8aa4a);
    ROUND(c, d, e, f, g, h, a, b, 54, 0x5b9cca4f);
    ROUND(b, c, d, e, f, g, h, a, 55, 0x682e6ff3);
    ROUND(a, b, c, d, e, f, g, h, 56, 0x748f82ee);
    ROUND(h, a, b, c, d, e, f, g, 57, 0x78a5636f);
    ROUND(g, h, a, b, c, d, e, f, 58, 0x84c87814);
    ROUND(f, g, h, a, b, c, d, e, 59, 0x8cc70208);
    ROUND(e, f, g, h, a, b, c, d, 60, 0x90befffa);
    ROUND(d, e, f, g, h, a, b, c, 61, 0xa4506ceb);
    ROUND(c, d, e, f, g, h, a, b, 62, 0xbef9a3f7);
    ROUND(b, c, d, e, f, g, h, a, 63, 0xc67178f2);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
}

#undef ROUND
#undef EXPAND
#undef MAJ
#undef CH
#undef GAMMA1
#undef GAMMA0
#undef SIGMA1
#undef SIGMA0

}  // namespace

const Sha256Implementation kSha256Portable = {"portable", CompressPortable};
