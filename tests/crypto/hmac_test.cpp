#include "crypto/hmac.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "crypto/dispatch.h"
#include "crypto/secure.h"
#include "tests/test_util.h"

namespace {

using testutil::FromHex;
using testutil::ToHex;

std::vector<uint8_t> Pattern(size_t n, unsigned mul, unsigned add) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * mul + add);
  return v;
}

// The MAC's hex cut to the length of the expected hex (RFC 4231 truncates case 5).
std::string MacHex(const uint8_t mac[32], const std::string& expected) {
  return ToHex(mac, 32).substr(0, expected.size());
}

TEST(HmacSha256Test, Rfc4231OneShotAndInPiecesOnEveryImplementation) {
  const auto records = testutil::LoadVectors("hmac_sha256_rfc4231.vec");
  ASSERT_EQ(records.size(), 7u);
  for (const auto* impl : testutil::Sha256Implementations()) {
    ScopedSha256Implementation use(*impl);
    for (const auto& r : records) {
      SCOPED_TRACE(std::string(impl->name) + " " + r.at("Name"));
      const auto key = FromHex(r.at("Key"));
      const auto data = FromHex(r.at("Data"));
      const std::string& expected = r.at("Mac");
      uint8_t mac[32];
      ComputeHmacSha256(key.data(), key.size(), data.data(), data.size(), mac);
      EXPECT_EQ(MacHex(mac, expected), expected);

      // Every two-way split of the data, through one reused object.
      HmacSha256 hmac;
      for (size_t split = 0; split <= data.size(); ++split) {
        hmac.Init(key.data(), key.size());
        hmac.Update(data.data(), static_cast<uint32_t>(split));
        hmac.Update(data.data() + split, static_cast<uint32_t>(data.size() - split));
        hmac.Final(mac);
        ASSERT_EQ(MacHex(mac, expected), expected) << "split at " << split;
      }
      // A byte at a time.
      hmac.Init(key.data(), key.size());
      for (uint8_t b : data) hmac.Update(&b, 1);
      hmac.Final(mac);
      EXPECT_EQ(MacHex(mac, expected), expected);
    }
  }
}

TEST(HmacSha256Test, KeyLengthsAroundTheBlockSize) {
  // Keys up to 64 bytes are padded with zeros, longer ones hashed first; 32 is the
  // container format's key length.
  const auto records = testutil::LoadVectors("hmac_sha256_key_lengths.vec");
  ASSERT_GE(records.size(), 20u);
  for (const auto& r : records) {
    const size_t keyLength = std::stoul(r.at("KeyLength"));
    const size_t dataLength = std::stoul(r.at("DataLength"));
    const auto key = Pattern(keyLength, 13, 1);
    const auto data = Pattern(dataLength, 5, 7);
    uint8_t mac[32];
    ComputeHmacSha256(key.data(), keyLength, data.data(), dataLength, mac);
    EXPECT_EQ(ToHex(mac, 32), r.at("Mac")) << "key " << keyLength << " data " << dataLength;
  }
}

TEST(HmacSha256Test, EmptyKeyAndDataMayBeNull) {
  const auto records = testutil::LoadVectors("hmac_sha256_key_lengths.vec");
  const auto& r = records.front();
  ASSERT_EQ(r.at("KeyLength"), "0");
  ASSERT_EQ(r.at("DataLength"), "0");
  uint8_t mac[32];
  ComputeHmacSha256(nullptr, 0, nullptr, 0, mac);
  EXPECT_EQ(ToHex(mac, 32), r.at("Mac"));
}

TEST(HmacSha256Test, FinalWipesTheKeyMaterial) {
  const auto key = Pattern(32, 29, 11);
  HmacSha256 hmac;
  hmac.Init(key.data(), key.size());
  hmac.Update("data", 4);
  uint8_t mac[32];
  hmac.Final(mac);
  // The object holds nothing but the inner context and the outer pad.
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&hmac);
  size_t nonZero = 0;
  for (size_t i = 0; i < sizeof hmac; ++i) nonZero += bytes[i] != 0;
  EXPECT_EQ(nonZero, 0u);
}

TEST(SecureTest, ConstantTimeEqualFindsADifferenceAnywhere) {
  std::vector<uint8_t> a = Pattern(32, 3, 1), b = a;
  EXPECT_TRUE(ConstantTimeEqual(a.data(), b.data(), 32));
  b[0] ^= 0x01;
  EXPECT_FALSE(ConstantTimeEqual(a.data(), b.data(), 32));
  b[0] = a[0];
  b[31] ^= 0x80;
  EXPECT_FALSE(ConstantTimeEqual(a.data(), b.data(), 32));
  // Only the first n bytes count.
  EXPECT_TRUE(ConstantTimeEqual(a.data(), b.data(), 31));
  EXPECT_TRUE(ConstantTimeEqual(a.data(), b.data() + 1, 0));
}

TEST(SecureTest, SecureWipeZeroesExactlyTheRange) {
  std::vector<uint8_t> v(40, 0xAB);
  SecureWipe(v.data() + 4, 32);
  for (size_t i = 0; i < v.size(); ++i)
    EXPECT_EQ(v[i], (i >= 4 && i < 36) ? 0 : 0xAB) << "byte " << i;
  SecureWipe(nullptr, 0);
}

}  // namespace
