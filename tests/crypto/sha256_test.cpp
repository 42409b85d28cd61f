#include "crypto/sha256.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crypto/dispatch.h"
#include "tests/test_util.h"

namespace {

using testutil::ToHex;

std::vector<uint8_t> Digest(const uint8_t* data, size_t n) {
  std::vector<uint8_t> out(32);
  Sha256Context ctx;
  ctx.Init();
  ctx.Update(data, static_cast<uint32_t>(n));
  ctx.Final(out.data());
  return out;
}

std::vector<uint8_t> Digest(const std::vector<uint8_t>& m) { return Digest(m.data(), m.size()); }

// Feeds m in pieces of the given sizes, cycling through them until m is used up.
std::vector<uint8_t> DigestInPieces(const std::vector<uint8_t>& m,
                                    const std::vector<size_t>& sizes) {
  Sha256Context ctx;
  ctx.Init();
  size_t pos = 0;
  for (size_t i = 0; pos < m.size(); ++i) {
    const size_t n = std::min(sizes[i % sizes.size()], m.size() - pos);
    ctx.Update(m.data() + pos, static_cast<uint32_t>(n));
    pos += n;
  }
  std::vector<uint8_t> out(32);
  ctx.Final(out.data());
  return out;
}

// The message of the padding-length vector file.
std::vector<uint8_t> PatternMessage(size_t n) {
  std::vector<uint8_t> m(n);
  for (size_t i = 0; i < n; ++i) m[i] = static_cast<uint8_t>(i * 7 + 3);
  return m;
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

TEST(Sha256Test, Fips180ExamplesOnEveryImplementation) {
  const auto records = testutil::LoadVectors("sha256_fips180_2.vec");
  ASSERT_EQ(records.size(), 3u);
  for (const auto* impl : testutil::Sha256Implementations()) {
    ScopedSha256Implementation use(*impl);
    for (const auto& r : records) {
      SCOPED_TRACE(std::string(impl->name) + " " + r.at("Name"));
      const std::string text = r.at("Text");
      const size_t repeat = r.count("Repeat") ? std::stoul(r.at("Repeat")) : 1;
      std::vector<uint8_t> m;
      for (size_t i = 0; i < repeat; ++i) m.insert(m.end(), text.begin(), text.end());
      EXPECT_EQ(ToHex(Digest(m)), r.at("Digest"));
    }
  }
}

TEST(Sha256Test, LengthsAroundThePaddingBoundaries) {
  const auto records = testutil::LoadVectors("sha256_padding_lengths.vec");
  ASSERT_GE(records.size(), 20u);
  for (const auto* impl : testutil::Sha256Implementations()) {
    ScopedSha256Implementation use(*impl);
    for (const auto& r : records) {
      const size_t n = std::stoul(r.at("Length"));
      SCOPED_TRACE(std::string(impl->name) + " length " + std::to_string(n));
      const auto m = PatternMessage(n);
      EXPECT_EQ(ToHex(Digest(m)), r.at("Digest"));
      // The same message a byte at a time goes through the block buffer only.
      EXPECT_EQ(ToHex(DigestInPieces(m, {1})), r.at("Digest"));
    }
  }
}

TEST(Sha256Test, CompressFunctionsAgreeOnRandomBlocks) {
  const auto impls = testutil::Sha256Implementations();
  const auto data = RandomBytes(64 * 40 + 3, 1);
  std::mt19937 rng(2);
  for (int trial = 0; trial < 50; ++trial) {
    uint32_t start[8];
    for (auto& w : start) w = static_cast<uint32_t>(rng());
    const size_t blocks = 1 + rng() % 40;
    const size_t offset = rng() % 4;  // the data need not be aligned
    uint32_t expected[8];
    std::memcpy(expected, start, sizeof start);
    // Reference: the portable function one block per call.
    for (size_t b = 0; b < blocks; ++b)
      kSha256Portable.compress(expected, data.data() + offset + 64 * b, 1);
    for (const auto* impl : impls) {
      SCOPED_TRACE(std::string(impl->name) + " trial " + std::to_string(trial));
      uint32_t state[8];
      std::memcpy(state, start, sizeof start);
      impl->compress(state, data.data() + offset, blocks);
      EXPECT_EQ(0, std::memcmp(state, expected, sizeof state));
    }
  }
}

TEST(Sha256Test, EveryTwoWaySplitMatchesTheWholeMessage) {
  const auto data = RandomBytes(200, 4);
  for (const auto* impl : testutil::Sha256Implementations()) {
    ScopedSha256Implementation use(*impl);
    for (size_t n = 0; n <= 200; ++n) {
      const auto whole = Digest(data.data(), n);
      for (size_t split = 0; split <= n; ++split) {
        Sha256Context ctx;
        ctx.Init();
        ctx.Update(data.data(), static_cast<uint32_t>(split));
        ctx.Update(data.data() + split, static_cast<uint32_t>(n - split));
        uint8_t out[32];
        ctx.Final(out);
        ASSERT_EQ(ToHex(out, 32), ToHex(whole))
            << impl->name << " length " << n << " split at " << split;
      }
    }
  }
}

TEST(Sha256Test, PiecesOfTheSizesTheEnginesUseMatchTheWholeMessage) {
  const auto data = RandomBytes(1000, 5);
  const std::vector<std::vector<size_t>> patterns = {
      {1}, {63, 1}, {64}, {65}, {16, 32, 64}, {32, 7}, {1, 127}, {200, 3}, {55, 9, 56, 8}};
  for (const auto* impl : testutil::Sha256Implementations()) {
    ScopedSha256Implementation use(*impl);
    for (size_t n : {0u, 1u, 63u, 64u, 65u, 112u, 128u, 999u, 1000u}) {
      const std::vector<uint8_t> m(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
      const auto whole = ToHex(Digest(m));
      for (size_t p = 0; p < patterns.size(); ++p)
        EXPECT_EQ(ToHex(DigestInPieces(m, patterns[p])), whole)
            << impl->name << " length " << n << " pattern " << p;
    }
  }
}

TEST(Sha256Test, ZeroLengthUpdateChangesNothing) {
  const auto data = RandomBytes(150, 6);
  for (size_t fed : {0u, 10u, 64u, 100u}) {
    Sha256Context ctx;
    std::memset(&ctx, 0xA5, sizeof ctx);  // bytes of the buffer not in use are compared too
    ctx.Init();
    ctx.Update(data.data(), static_cast<uint32_t>(fed));
    Sha256Context before;
    std::memcpy(&before, &ctx, sizeof ctx);
    ctx.Update(data.data() + fed, 0);
    ctx.Update(nullptr, 0);
    EXPECT_EQ(0, std::memcmp(&before, &ctx, sizeof ctx)) << "after " << fed << " bytes";
  }

  // Empty updates between others leave the digest as it is.
  Sha256Context ctx;
  ctx.Init();
  ctx.Update(nullptr, 0);
  ctx.Update(data.data(), 70);
  ctx.Update(data.data() + 70, 0);
  ctx.Update(data.data() + 70, 80);
  ctx.Update(nullptr, 0);
  uint8_t out[32];
  ctx.Final(out);
  EXPECT_EQ(ToHex(out, 32), ToHex(Digest(data)));
}

TEST(Sha256Test, FinalMayOverwriteTheBufferItWasFed) {
  // The key derivation's pattern: the previous digest is fed, then the next one is
  // written over it.
  const std::string password = "correct horse";
  for (const auto* impl : testutil::Sha256Implementations()) {
    ScopedSha256Implementation use(*impl);
    uint8_t inPlace[32];
    for (int i = 0; i < 32; ++i) inPlace[i] = static_cast<uint8_t>(i < 16 ? 0xC0 + i : 0);
    uint8_t separate[32];
    std::memcpy(separate, inPlace, 32);

    Sha256Context ctx;
    for (int round = 0; round < 100; ++round) {
      ctx.Init();
      ctx.Update(inPlace, 32);
      ctx.Update(password.data(), static_cast<uint32_t>(password.size()));
      ctx.Final(inPlace);

      std::vector<uint8_t> m(separate, separate + 32);
      m.insert(m.end(), password.begin(), password.end());
      const auto next = Digest(m);
      std::memcpy(separate, next.data(), 32);
    }
    EXPECT_EQ(ToHex(inPlace, 32), ToHex(separate, 32)) << impl->name;
  }
}

TEST(Sha256Test, InitAfterFinalStartsAFreshHash) {
  const auto a = RandomBytes(77, 7), b = RandomBytes(30, 8);
  Sha256Context ctx;
  ctx.Init();
  ctx.Update(a.data(), static_cast<uint32_t>(a.size()));
  uint8_t first[32], second[32];
  ctx.Final(first);
  EXPECT_EQ(ToHex(first, 32), ToHex(Digest(a)));
  ctx.Init().Update(b.data(), static_cast<uint32_t>(b.size()));
  ctx.Final(second);
  EXPECT_EQ(ToHex(second, 32), ToHex(Digest(b)));
}

TEST(Sha256Test, ByteCountCarriesIntoTheHighWordAndTheBitLength) {
  // Hashing 4 GiB is too slow for a unit test, so the count is started just below the
  // wrap; the last block is then built by hand from FIPS 180-2's padding rule.
  Sha256Context ctx;
  ctx.Init();
  ctx.countLow = 0xFFFFFFC0u;  // 64 bytes below the wrap, nothing buffered
  const auto data = RandomBytes(80, 9);
  ctx.Update(data.data(), 80);
  EXPECT_EQ(ctx.countHigh, 1u);
  EXPECT_EQ(ctx.countLow, 0x10u);

  uint32_t expected[8];
  std::memcpy(expected, ctx.state, sizeof expected);
  // Total bytes 2^32 + 16: bit length 2^35 + 128 = 0x00000008_00000080.
  uint8_t last[64] = {};
  std::memcpy(last, data.data() + 64, 16);
  last[16] = 0x80;
  last[59] = 0x08;
  last[63] = 0x80;
  kSha256Portable.compress(expected, last, 1);

  uint8_t out[32];
  ctx.Final(out);
  for (int i = 0; i < 8; ++i) {
    const uint32_t word = static_cast<uint32_t>(out[4 * i]) << 24 |
                          static_cast<uint32_t>(out[4 * i + 1]) << 16 |
                          static_cast<uint32_t>(out[4 * i + 2]) << 8 | out[4 * i + 3];
    EXPECT_EQ(word, expected[i]) << "word " << i;
  }
}

}  // namespace
