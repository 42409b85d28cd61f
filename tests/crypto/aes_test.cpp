#include "crypto/aes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crypto/dispatch.h"
#include "tests/test_util.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testutil::FromHex;
using testutil::ToHex;

// Round key (or decryption slot) r as hex, bytes in memory order.
std::string Slot(const uint32_t* roundKeys, int r) {
  return ToHex(reinterpret_cast<const uint8_t*>(roundKeys + 4 * r), 16);
}

std::string Hex(const std::string& text) { return ToHex(FromHex(text)); }

Bytes RandomBytes(std::mt19937& rng, size_t n) {
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

// Reference InvMixColumns of a 16-byte round key, one byte at a time.
uint8_t GfMul(uint8_t a, uint8_t b) {
  uint8_t r = 0;
  for (; b; b >>= 1) {
    if (b & 1) r ^= a;
    a = static_cast<uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1b : 0));
  }
  return r;
}

std::string InvMixColumns(const uint32_t* roundKeys, int r) {
  const auto* k = reinterpret_cast<const uint8_t*>(roundKeys + 4 * r);
  static const uint8_t m[4][4] = {
      {14, 11, 13, 9}, {9, 14, 11, 13}, {13, 9, 14, 11}, {11, 13, 9, 14}};
  uint8_t out[16];
  for (int c = 0; c < 4; ++c)
    for (int row = 0; row < 4; ++row)
      out[4 * c + row] = GfMul(m[row][0], k[4 * c]) ^ GfMul(m[row][1], k[4 * c + 1]) ^
                         GfMul(m[row][2], k[4 * c + 2]) ^ GfMul(m[row][3], k[4 * c + 3]);
  return ToHex(out, 16);
}

testutil::VectorRecord Fips197Cipher() {
  for (const auto& rec : testutil::LoadVectors("aes_fips197_c3.vec"))
    if (rec.at("Group") == "Cipher") return rec;
  ADD_FAILURE() << "no [Cipher] record";
  return {};
}

// ---- Key set-up: one for every implementation --------------------------------------

TEST(AesKeySchedule, MatchesFips197C3BothDirections) {
  const Bytes key = FromHex(Fips197Cipher()["Key"]);
  ASSERT_EQ(key.size(), 32u);
  AesEncryptContext enc;
  AesDecryptContext dec;
  EXPECT_EQ(AesCipher::SetEncryptKey(key.data(), &enc), 0);
  EXPECT_EQ(AesCipher::SetDecryptKey(key.data(), &dec), 0);
  int rounds = 0;
  for (const auto& rec : testutil::LoadVectors("aes_fips197_c3.vec")) {
    if (rec.at("Group") != "KeySchedule") continue;
    const int r = std::stoi(rec.at("Round"));
    EXPECT_EQ(Slot(enc.roundKeys, r), Hex(rec.at("EncryptKey"))) << "round " << r;
    EXPECT_EQ(Slot(dec.roundKeys, r), Hex(rec.at("DecryptKey"))) << "round " << r;
    ++rounds;
  }
  EXPECT_EQ(rounds, 15);
}

TEST(AesKeySchedule, DecryptSlotsFollowFromEncryptSchedule) {
  std::mt19937 rng(197);
  std::vector<Bytes> keys = {Bytes(32, 0), Bytes(32, 0xff)};
  for (int i = 0; i < 20; ++i) keys.push_back(RandomBytes(rng, 32));
  for (const Bytes& key : keys) {
    SCOPED_TRACE(ToHex(key));
    AesEncryptContext enc;
    AesDecryptContext dec;
    AesCipher::SetEncryptKey(key.data(), &enc);
    AesCipher::SetDecryptKey(key.data(), &dec);
    EXPECT_EQ(Slot(dec.roundKeys, 0), Slot(enc.roundKeys, 14));
    EXPECT_EQ(Slot(dec.roundKeys, 14), ToHex(key.data(), 16));
    for (int s = 1; s <= 13; ++s)
      EXPECT_EQ(Slot(dec.roundKeys, s), InvMixColumns(enc.roundKeys, 14 - s)) << "slot " << s;
  }
}

TEST(AesKeySchedule, SetUpWritesWholeRecordIncludingRoundInfo) {
  std::mt19937 rng(224);
  const Bytes first = RandomBytes(rng, 32), second = RandomBytes(rng, 32);
  AesEncryptContext enc, freshEnc = {};
  AesDecryptContext dec, freshDec = {};
  std::memset(&enc, 0xa5, sizeof enc);
  std::memset(&dec, 0xa5, sizeof dec);
  // Set twice: the second key replaces everything the first (and the garbage) left.
  AesCipher::SetEncryptKey(first.data(), &enc);
  AesCipher::SetDecryptKey(first.data(), &dec);
  AesCipher::SetEncryptKey(second.data(), &enc);
  AesCipher::SetDecryptKey(second.data(), &dec);
  AesCipher::SetEncryptKey(second.data(), &freshEnc);
  AesCipher::SetDecryptKey(second.data(), &freshDec);
  EXPECT_EQ(std::memcmp(&enc, &freshEnc, sizeof enc), 0);
  EXPECT_EQ(std::memcmp(&dec, &freshDec, sizeof dec), 0);

  uint8_t info[4];
  std::memcpy(info, &enc.roundInfo, 4);
  EXPECT_EQ(ToHex(info, 4), "e0000000");  // 224 in the low-order byte, zeros above
  std::memcpy(info, &dec.roundInfo, 4);
  EXPECT_EQ(ToHex(info, 4), "e0000000");
}

// ---- Every implementation this machine offers ------------------------------------------

class AesImpl : public testing::TestWithParam<const AesImplementation*> {};

std::string ImplName(const testing::TestParamInfo<const AesImplementation*>& info) {
  std::string name = info.param->name;
  std::replace_if(
      name.begin(), name.end(), [](char c) { return !isalnum(c); }, '_');
  return name;
}

INSTANTIATE_TEST_SUITE_P(Aes, AesImpl, testing::ValuesIn(testutil::AesImplementations()), ImplName);

TEST_P(AesImpl, Fips197C3BlockDirectAndThroughAesCipher) {
  const AesImplementation& impl = *GetParam();
  auto rec = Fips197Cipher();
  const Bytes key = FromHex(rec["Key"]), pt = FromHex(rec["Plaintext"]);
  const std::string ct = Hex(rec["Ciphertext"]);
  AesEncryptContext enc;
  AesDecryptContext dec;
  AesCipher::SetEncryptKey(key.data(), &enc);
  AesCipher::SetDecryptKey(key.data(), &dec);

  uint8_t out[16], back[16];
  EXPECT_EQ(impl.encryptBlock(pt.data(), out, &enc), 0);
  EXPECT_EQ(ToHex(out, 16), ct);
  EXPECT_EQ(impl.decryptBlock(out, back, &dec), 0);
  EXPECT_EQ(ToHex(back, 16), ToHex(pt));

  ScopedAesImplementation use(impl);
  EXPECT_STREQ(ActiveAes().name, impl.name);
  uint8_t buf[16];
  std::memcpy(buf, pt.data(), 16);
  EXPECT_EQ(AesCipher::EncryptBlock(buf, buf, &enc), 0);  // in place, as the engines call it
  EXPECT_EQ(ToHex(buf, 16), ct);
  EXPECT_EQ(AesCipher::DecryptBlock(buf, buf, &dec), 0);
  EXPECT_EQ(ToHex(buf, 16), ToHex(pt));
}

TEST_P(AesImpl, Sp800_38aCbcInOneCallAndChainedByHand) {
  const AesImplementation& impl = *GetParam();
  ScopedAesImplementation use(impl);
  for (const auto& rec : testutil::LoadVectors("aes_cbc_sp800_38a.vec")) {
    SCOPED_TRACE(rec.at("Group"));
    const bool encrypt = rec.at("Group") == "Encrypt";
    const Bytes key = FromHex(rec.at("Key")), iv = FromHex(rec.at("IV"));
    const Bytes in = FromHex(rec.at(encrypt ? "Plaintext" : "Ciphertext"));
    const Bytes want = FromHex(rec.at(encrypt ? "Ciphertext" : "Plaintext"));
    const Bytes ct = FromHex(rec.at("Ciphertext"));
    const std::string lastCt = ToHex(ct.data() + ct.size() - 16, 16);
    const size_t blocks = in.size() / 16;
    AesEncryptContext enc;
    AesDecryptContext dec;
    AesCipher::SetEncryptKey(key.data(), &enc);
    AesCipher::SetDecryptKey(key.data(), &dec);

    Bytes out(in.size()), chain = iv;
    EXPECT_EQ(encrypt ? impl.cbcEncrypt(enc, chain.data(), in.data(), out.data(), blocks)
                      : impl.cbcDecrypt(dec, chain.data(), in.data(), out.data(), blocks),
              0);
    EXPECT_EQ(ToHex(out), ToHex(want));
    EXPECT_EQ(ToHex(chain), lastCt);

    Bytes buf = in;
    chain = iv;
    EXPECT_EQ(encrypt ? AesCipher::CbcEncrypt(enc, chain.data(), buf.data(), buf.data(), blocks)
                      : AesCipher::CbcDecrypt(dec, chain.data(), buf.data(), buf.data(), blocks),
              0);
    EXPECT_EQ(ToHex(buf), ToHex(want));
    EXPECT_EQ(ToHex(chain), lastCt);

    // The engines' own chaining: one in-place block call per 16 bytes.
    buf = in;
    chain = iv;
    for (size_t b = 0; b < blocks; ++b) {
      uint8_t* p = buf.data() + 16 * b;
      if (encrypt) {
        for (int i = 0; i < 16; ++i) p[i] ^= chain[i];
        AesCipher::EncryptBlock(p, p, &enc);
        std::memcpy(chain.data(), p, 16);
      } else {
        uint8_t c[16];
        std::memcpy(c, p, 16);
        AesCipher::DecryptBlock(p, p, &dec);
        for (int i = 0; i < 16; ++i) p[i] ^= chain[i];
        std::memcpy(chain.data(), c, 16);
      }
    }
    EXPECT_EQ(ToHex(buf), ToHex(want));
  }
}

TEST_P(AesImpl, BlockInPlaceMatchesSeparateBuffersAndRoundTrips) {
  const AesImplementation& impl = *GetParam();
  std::mt19937 rng(16);
  for (int k = 0; k < 8; ++k) {
    const Bytes key = RandomBytes(rng, 32);
    AesEncryptContext enc;
    AesDecryptContext dec;
    AesCipher::SetEncryptKey(key.data(), &enc);
    AesCipher::SetDecryptKey(key.data(), &dec);
    for (int i = 0; i < 32; ++i) {
      const Bytes block = RandomBytes(rng, 16);
      uint8_t ct[16], buf[16], pt[16];
      impl.encryptBlock(block.data(), ct, &enc);
      std::memcpy(buf, block.data(), 16);
      impl.encryptBlock(buf, buf, &enc);
      ASSERT_EQ(ToHex(buf, 16), ToHex(ct, 16));
      impl.decryptBlock(ct, pt, &dec);
      impl.decryptBlock(buf, buf, &dec);
      ASSERT_EQ(ToHex(pt, 16), ToHex(block));
      ASSERT_EQ(ToHex(buf, 16), ToHex(block));
    }
  }
}

TEST_P(AesImpl, BadRoundInfoFailsAndWritesNothing) {
  const AesImplementation& impl = *GetParam();
  ScopedAesImplementation use(impl);
  std::mt19937 rng(1);
  const Bytes key = RandomBytes(rng, 32), in = RandomBytes(rng, 16 * 9);
  AesEncryptContext enc;
  AesDecryptContext dec;
  AesCipher::SetEncryptKey(key.data(), &enc);
  AesCipher::SetDecryptKey(key.data(), &dec);
  // A never-set record, and valid schedules with every kind of wrong round count.
  AesEncryptContext zeroEnc = {};
  AesDecryptContext zeroDec = {};
  std::vector<std::pair<AesEncryptContext, AesDecryptContext>> bad = {{zeroEnc, zeroDec}};
  for (uint32_t info : {0u, 1u, 14u, 144u, 176u, 208u, 225u, 240u, 255u, 0xe000u}) {
    enc.roundInfo = dec.roundInfo = info;
    bad.push_back({enc, dec});
  }
  for (const auto& [e, d] : bad) {
    SCOPED_TRACE(e.roundInfo);
    const Bytes untouched(in.size(), 0x5a);
    const Bytes iv0 = RandomBytes(rng, 16);
    Bytes out = untouched, iv = iv0;
    EXPECT_EQ(impl.encryptBlock(in.data(), out.data(), &e), -1);
    EXPECT_EQ(impl.decryptBlock(in.data(), out.data(), &d), -1);
    EXPECT_EQ(AesCipher::EncryptBlock(in.data(), out.data(), &e), -1);
    EXPECT_EQ(AesCipher::DecryptBlock(in.data(), out.data(), &d), -1);
    EXPECT_EQ(impl.cbcEncrypt(e, iv.data(), in.data(), out.data(), 9), -1);
    EXPECT_EQ(impl.cbcDecrypt(d, iv.data(), in.data(), out.data(), 9), -1);
    EXPECT_EQ(AesCipher::CbcEncrypt(e, iv.data(), in.data(), out.data(), 9), -1);
    EXPECT_EQ(AesCipher::CbcDecrypt(d, iv.data(), in.data(), out.data(), 9), -1);
    EXPECT_EQ(out, untouched);
    EXPECT_EQ(iv, iv0);
  }
}

// One call, several calls of random sizes (continuing through iv), in place, and one
// block call per block must all give the same chain, for lengths around the 8-block
// stride of the parallel decryption.
TEST_P(AesImpl, CbcSplitsInPlaceAndBlockByBlockAgree) {
  const AesImplementation& impl = *GetParam();
  std::mt19937 rng(38);
  std::vector<size_t> counts;
  for (size_t n = 0; n <= 20; ++n) counts.push_back(n);
  for (size_t n : {63u, 64u, 65u, 1031u}) counts.push_back(n);
  for (size_t n : counts) {
    SCOPED_TRACE(n);
    const Bytes key = RandomBytes(rng, 32), iv = RandomBytes(rng, 16);
    const Bytes data = RandomBytes(rng, 16 * n);
    AesEncryptContext enc;
    AesDecryptContext dec;
    AesCipher::SetEncryptKey(key.data(), &enc);
    AesCipher::SetDecryptKey(key.data(), &dec);

    // Reference chain from single block calls.
    Bytes ct(data.size());
    uint8_t chain[16];
    std::memcpy(chain, iv.data(), 16);
    for (size_t b = 0; b < n; ++b) {
      uint8_t x[16];
      for (int i = 0; i < 16; ++i) x[i] = data[16 * b + i] ^ chain[i];
      impl.encryptBlock(x, chain, &enc);
      std::memcpy(&ct[16 * b], chain, 16);
    }
    const std::string lastCt = ToHex(chain, 16);

    for (int mode = 0; mode < 3; ++mode) {  // one call, in place, random pieces
      SCOPED_TRACE(mode);
      const bool inPlace = mode == 1;
      // Call sizes in blocks; the random split includes empty calls.
      std::vector<size_t> pieces;
      for (size_t left = n; mode == 2 && left > 0; left -= pieces.back())
        pieces.push_back(std::min<size_t>(rng() % 12, left));
      if (mode != 2) pieces.push_back(n);

      Bytes out = inPlace ? data : Bytes(data.size()), ivc = iv;
      const uint8_t* src = inPlace ? out.data() : data.data();
      size_t done = 0;
      for (size_t piece : pieces) {
        EXPECT_EQ(impl.cbcEncrypt(enc, ivc.data(), src + 16 * done, out.data() + 16 * done, piece),
                  0);
        done += piece;
      }
      EXPECT_EQ(out, ct);
      EXPECT_EQ(ToHex(ivc), lastCt);

      Bytes back = inPlace ? ct : Bytes(ct.size());
      ivc = iv;
      src = inPlace ? back.data() : ct.data();
      done = 0;
      for (size_t piece : pieces) {
        EXPECT_EQ(impl.cbcDecrypt(dec, ivc.data(), src + 16 * done, back.data() + 16 * done, piece),
                  0);
        done += piece;
      }
      EXPECT_EQ(back, data);
      EXPECT_EQ(ToHex(ivc), lastCt);
    }
  }
}

// Every implementation against the portable one on random keys and data, for 14 rounds
// and for hand-set 10- and 12-round records.
TEST(AesImplementations, AgreeWithPortableOnRandomData) {
  const auto impls = testutil::AesImplementations();
  if (impls.size() < 2) GTEST_SKIP() << "only the portable implementation runs here";
  std::mt19937 rng(256);
  for (uint32_t info : {160u, 192u, 224u}) {
    SCOPED_TRACE(info);
    const Bytes key = RandomBytes(rng, 32), iv = RandomBytes(rng, 16);
    const size_t blocks = 203;
    const Bytes data = RandomBytes(rng, 16 * blocks);
    AesEncryptContext enc;
    AesDecryptContext dec;
    AesCipher::SetEncryptKey(key.data(), &enc);
    AesCipher::SetDecryptKey(key.data(), &dec);
    enc.roundInfo = dec.roundInfo = info;

    auto run = [&](const AesImplementation& impl) {
      Bytes out(4 * data.size());
      uint8_t* p = out.data();
      for (size_t b = 0; b < blocks; ++b) {
        impl.encryptBlock(&data[16 * b], p + 16 * b, &enc);
        impl.decryptBlock(&data[16 * b], p + data.size() + 16 * b, &dec);
      }
      Bytes ivc = iv;
      impl.cbcEncrypt(enc, ivc.data(), data.data(), p + 2 * data.size(), blocks);
      impl.cbcDecrypt(dec, ivc.data(), data.data(), p + 3 * data.size(), blocks);
      out.insert(out.end(), ivc.begin(), ivc.end());
      return out;
    };
    const Bytes want = run(kAesPortable);
    for (const AesImplementation* impl : impls) EXPECT_EQ(run(*impl), want) << impl->name;
  }
}

}  // namespace
