#include "platform/random.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

std::string Fill(RandomSource& source) {
  uint8_t bytes[32];
  std::memset(bytes, 0, sizeof bytes);
  EXPECT_TRUE(source.Fill32(bytes));
  return std::string(reinterpret_cast<char*>(bytes), sizeof bytes);
}

}  // namespace

TEST(SystemRandomSource, FillsDifferentBytesEachTime) {
  SystemRandomSource source;
  ASSERT_TRUE(source.Acquire());
  std::set<std::string> seen;
  std::set<char> byteValues;
  for (int i = 0; i < 64; ++i) {
    const std::string block = Fill(source);
    seen.insert(block);
    byteValues.insert(block.begin(), block.end());
  }
  EXPECT_EQ(seen.size(), 64u) << "a 32-byte block repeated";
  // 2048 random bytes leave out any one value with probability e^-8; many missing
  // values would mean most of each block is constant.
  EXPECT_GT(byteValues.size(), 200u);

  // A container's requests made at once: every 32-byte block different from all others.
  std::vector<uint8_t> many(8192, 0);
  ASSERT_TRUE(source.Fill(many.data(), many.size()));
  for (size_t i = 0; i < many.size(); i += 32)
    seen.insert(std::string(many.begin() + i, many.begin() + i + 32));
  EXPECT_EQ(seen.size(), 64u + 256u) << "a 32-byte block repeated";
  source.Release();
  EXPECT_FALSE(source.Fill(many.data(), many.size())) << "released";
}

TEST(SystemRandomSource, GivesBytesOnlyBetweenAcquireAndRelease) {
  SystemRandomSource source;
  uint8_t bytes[32] = {};
  EXPECT_FALSE(source.Fill32(bytes)) << "not acquired yet";
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(source.Acquire());
    EXPECT_TRUE(source.Acquire()) << "acquiring again keeps the provider";
    EXPECT_TRUE(source.Fill32(bytes));
    source.Release();
    EXPECT_FALSE(source.Fill32(bytes)) << "released";
    source.Release();  // harmless
  }
  SystemRandomSource other;
  other.Release();  // never acquired: harmless
  ASSERT_TRUE(other.Acquire());
  // Destroying an acquired source releases its provider.
}
