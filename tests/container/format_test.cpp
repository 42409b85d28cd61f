#include "container/format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "container/io.h"
#include "container/system_error_exception.h"
#include "tests/container/container_builder.h"
#include "tests/test_util.h"

using testutil::BuildContainer;
using testutil::ContainerOffsets;
using testutil::ContainerRecipe;
using testutil::DecryptInMemory;
using testutil::FaultySource;

namespace {

const std::string kPath = "C:\\문서\\보고서.docx.wqv3";

std::vector<uint8_t> Pattern(size_t n, uint32_t seed = 1) {
  std::vector<uint8_t> v(n);
  std::mt19937 rng(seed);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// Writes a version 2 container with ContainerWriter into memory.
std::vector<uint8_t> Write(const std::vector<uint8_t>& plain, const std::string& password,
                           const ContainerRecipe& keys = ContainerRecipe(), size_t piece = 0) {
  MemorySink sink;
  ContainerWriter writer(sink, "out.aqv3");
  writer.WriteHead(keys.fileIv, keys.bulkIvAndKey, password.data(), password.size());
  if (piece == 0) {
    writer.WritePlaintext(plain.data(), plain.size());
  } else {
    for (size_t i = 0; i < plain.size(); i += piece)
      writer.WritePlaintext(plain.data() + i, std::min(piece, plain.size() - i));
  }
  writer.Finish();
  return sink.bytes;
}

// Runs the whole reader over a source and returns the exception it throws (or fails).
SystemErrorException ReadFailure(ContainerSource& source, const std::string& password = "password") {
  ContainerReader reader(source, kPath);
  try {
    reader.ReadLayout();
    reader.Unlock(password.data(), password.size());
    std::vector<uint8_t> buffer(64);
    while (reader.ReadPlaintext(buffer.data(), buffer.size())) {
    }
    reader.Finish();
  } catch (const SystemErrorException& e) {
    return e;
  }
  ADD_FAILURE() << "the container was read without a failure";
  return SystemErrorException(FailureKind::Unreadable, 0, "");
}

SystemErrorException ReadFailure(const std::vector<uint8_t>& bytes, const std::string& password = "password") {
  MemorySource source(bytes.data(), bytes.size());
  return ReadFailure(source, password);
}

void ExpectFailure(const SystemErrorException& e, FailureKind failure, uint32_t code = 0) {
  EXPECT_EQ(e.m_failure.kind, failure);
  EXPECT_EQ(e.m_failure.code, code);
  EXPECT_EQ(e.m_failure.path, kPath);
}

}  // namespace

TEST(ContainerKeyDerivation, MatchesIndependentlyComputedKeys) {
  for (const auto& r : testutil::LoadVectors("container_key_derivation.vec")) {
    const auto iv = testutil::FromHex(r.at("FileIv"));
    const auto pw = testutil::FromHex(r.at("Password"));
    uint8_t key[32];
    DeriveContainerKey(iv.data(), reinterpret_cast<const char*>(pw.data()), pw.size(), key);
    EXPECT_EQ(testutil::ToHex(key, 32), r.at("Key")) << "password " << r.at("Password");
  }
}

TEST(ContainerMessages, AreTheExactTexts) {
  EXPECT_EQ(FailureText({FailureKind::TooSmall, 0, "p"}), "엉뚱한 파일 \r\np\r\n 파일이 너무 작습니다.");
  EXPECT_EQ(FailureText({FailureKind::TooSmallV2, 0, "p"}), "엉뚱한 파일\r\np\r\n 파일이 너무 작습니다.");
  EXPECT_EQ(FailureText({FailureKind::BadSignature, 0, "p"}), "엉뚱한 파일 \r\np\n 서명이 틀립니다.");
  EXPECT_EQ(FailureText({FailureKind::BadVersion, 0, "p"}), "엉뚱한 파일 \r\np\r\n 지원하지 않는 버전입니다.");
  EXPECT_EQ(FailureText({FailureKind::ExtensionUnreadable, 0, "p"}), "파일을 읽을 수 없습니다.\r\n p");
  EXPECT_EQ(FailureText({FailureKind::ExtensionLengthUnreadable, 0, "p"}), "다음 파일을 읽을 수 없습니다.\r\np");
  EXPECT_EQ(FailureText({FailureKind::BadCipherLength, 0, "p"}), "엉뚱한 파일\r\np\n 파일 내용이 잘못되었습니다.");
  EXPECT_EQ(FailureText({FailureKind::KeyBlockMac, 0, "p"}),
            "파일에 오류가 있습니다.\r\np\r\n파일이 수정되었거나 암호가 틀립니다.");
  EXPECT_EQ(FailureText({FailureKind::BulkMacV0, 0, "p"}),
            "파일에 오류가 있습니다.\r\np\r\n파일이 수정되었거나 암호가 다릅니다.");
  EXPECT_EQ(FailureText({FailureKind::BulkMac, 0, "p"}),
            "파일에 오류가 있습니다.\r\np\r\n파일이 수정되어 신뢰할 수 없습니다.");
  EXPECT_EQ(FailureText({FailureKind::SizeUnknown, 0, "p"}), "다음 파일의 크기를 가늠할 수 없습니다.\r\np");
  EXPECT_EQ(FailureText({FailureKind::Unreadable, 0, "p"}), "파일을 읽을 수 없습니다.\r\np");
}

TEST(ContainerWriter, LayoutIsByteForByteTheFormat) {
  ContainerRecipe recipe;
  recipe.plaintext = Pattern(37);
  const auto written = Write(recipe.plaintext, recipe.password, recipe);
  EXPECT_EQ(written, BuildContainer(recipe));
  ASSERT_EQ(written.size(), 294u + 48u);

  // The head and the fixed 160-byte extension section.
  const uint8_t head[] = {'A', 'E', 'S', 2, 0, 0x00, 0x1A};
  EXPECT_EQ(0, std::memcmp(written.data(), head, sizeof head));
  EXPECT_EQ(0, std::memcmp(written.data() + 7, "CREATED_BY\0TARVESSIN KVT 3", 26));
  EXPECT_EQ(written[33], 0x00);
  EXPECT_EQ(written[34], 0x80);
  for (size_t i = 35; i < 163; ++i) ASSERT_EQ(written[i], 0) << i;
  EXPECT_EQ(written[163], 0);
  EXPECT_EQ(written[164], 0);
  EXPECT_EQ(0, std::memcmp(written.data() + 165, recipe.fileIv, 16));
  EXPECT_EQ(written[165 + 96 + 48], 37 % 16);  // the length byte
}

TEST(ContainerWriter, SizesOfEmptyOneBlockAndSeventeenBytes) {
  EXPECT_EQ(Write({}, "pw").size(), 294u);
  EXPECT_EQ(Write(Pattern(16), "pw").size(), 310u);
  const auto c17 = Write(Pattern(17), "pw");
  EXPECT_EQ(c17.size(), 326u);
  EXPECT_EQ(c17[326 - 33], 1);
  EXPECT_EQ(Write(Pattern(16), "pw")[310 - 33], 0);
}

TEST(ContainerRoundTrip, EveryLengthUpTo64AndLargeOnes) {
  for (size_t n = 0; n <= 64; ++n) {
    const auto plain = Pattern(n, static_cast<uint32_t>(n));
    const auto c = Write(plain, "비밀 번호");
    ASSERT_EQ(c.size(), 294 + (n + 15) / 16 * 16) << n;
    for (size_t chunk : {16, 48, 4096}) ASSERT_EQ(DecryptInMemory(c, "비밀 번호", chunk), plain) << n;
  }
  // Five slices and more: the pieces queued for the MAC (and the writes) wrap around.
  for (size_t n : {size_t{1} << 20, (size_t{5} << 20) + 5, size_t{262144 * 2 + 15}}) {
    const auto plain = Pattern(n, 7);
    for (size_t piece : {size_t{0}, size_t{1000}, size_t{16}}) {
      if (piece == 16 && n > (1u << 20)) continue;
      const auto c = Write(plain, "pw", ContainerRecipe(), piece);
      ASSERT_EQ(DecryptInMemory(c, "pw", 1 << 20), plain) << n << " " << piece;
      ASSERT_EQ(DecryptInMemory(c, "pw", 65536 + 16), plain) << n;
    }
  }
}

TEST(ContainerReader, ReadsVersionsZeroOneAndTwo) {
  for (int version : {0, 1, 2}) {
    for (size_t n : {0, 1, 15, 16, 17, 100}) {
      ContainerRecipe recipe;
      recipe.version = version;
      recipe.plaintext = Pattern(n, static_cast<uint32_t>(n + 100 * version));
      const auto c = BuildContainer(recipe);
      EXPECT_EQ(DecryptInMemory(c, recipe.password), recipe.plaintext) << version << " " << n;
    }
  }
  ContainerRecipe v0;
  v0.version = 0;
  EXPECT_EQ(BuildContainer(v0).size(), 53u);
  EXPECT_TRUE(DecryptInMemory(BuildContainer(v0), v0.password).empty());
}

TEST(ContainerReader, ExtensionSectionsOfEveryShape) {
  ContainerRecipe recipe;
  recipe.plaintext = Pattern(40);
  recipe.extensions = {};  // just the end mark
  EXPECT_EQ(BuildContainer(recipe).size(), 136u + 48u);
  EXPECT_EQ(DecryptInMemory(BuildContainer(recipe), recipe.password), recipe.plaintext);

  recipe.extensions = {{1}, std::vector<uint8_t>(300, 0xAB), {'x', 'y'}, std::vector<uint8_t>(65535, 7)};
  MemorySource source(nullptr, 0);
  const auto c = BuildContainer(recipe);
  EXPECT_EQ(DecryptInMemory(c, recipe.password), recipe.plaintext);

  MemorySource s(c.data(), c.size());
  ContainerReader reader(s, kPath);
  const ContainerLayout& layout = reader.ReadLayout(true);
  EXPECT_EQ(layout.extensions, recipe.extensions);
  EXPECT_EQ(layout.cipherLength, 48u);
  EXPECT_EQ(layout.overhead, 136u);
}

TEST(ContainerReader, LayoutReadAPieceAtATimeIsTheSameAndStopsWhenAsked) {
  ContainerRecipe recipe;
  recipe.plaintext = Pattern(40);
  recipe.extensions = {{1}, std::vector<uint8_t>(300, 0xAB), {'x', 'y'}, std::vector<uint8_t>(65535, 7)};
  const auto c = BuildContainer(recipe);
  {
    // The smallest budget: one extension a step, the end mark in a step of its own.
    MemorySource s(c.data(), c.size());
    ContainerReader reader(s, kPath);
    std::vector<uint64_t> read;
    while (!reader.ReadLayoutStep(1, true)) read.push_back(reader.LayoutBytesRead());
    EXPECT_EQ(read, (std::vector<uint64_t>{3, 305, 309, 65846}));
    EXPECT_EQ(reader.layout().extensions, recipe.extensions);
    EXPECT_EQ(reader.layout().cipherLength, 48u);
    EXPECT_TRUE(reader.ReadLayoutStep(1));  // done stays done, reading nothing
    reader.Unlock(recipe.password.data(), recipe.password.size());
    std::vector<uint8_t> plain(64);
    plain.resize(reader.ReadPlaintext(plain.data(), plain.size()));
    reader.Finish();
    EXPECT_EQ(plain, recipe.plaintext);
  }
  {
    MemorySource s(c.data(), c.size());
    ContainerReader reader(s, kPath);
    std::vector<std::pair<uint64_t, uint64_t>> told;
    EXPECT_TRUE(reader.ReadLayoutUnless([&](uint64_t done, uint64_t total) {
      told.emplace_back(done, total);
      return true;
    }));
    EXPECT_TRUE(told.empty()) << "a section shorter than a piece is read in one";
  }
  // A section longer than a piece: told between pieces, stopped at the first.
  recipe.extensions.assign(200, std::vector<uint8_t>(65535, 1));
  const auto many = BuildContainer(recipe);
  MemorySource s(many.data(), many.size());
  ContainerReader reader(s, kPath);
  std::vector<std::pair<uint64_t, uint64_t>> told;
  EXPECT_FALSE(reader.ReadLayoutUnless([&](uint64_t done, uint64_t total) {
    told.emplace_back(done, total);
    return true;
  }));
  ASSERT_EQ(told.size(), 1u);
  EXPECT_GE(told[0].first, ContainerReader::kLayoutPiece);
  EXPECT_LT(told[0].first, ContainerReader::kLayoutPiece + 65537);
  EXPECT_EQ(told[0].second, many.size() - 136);
}

TEST(ContainerReader, ChecksFailInOrderWithTheirMessages) {
  ContainerRecipe recipe;
  recipe.plaintext = Pattern(33);
  ContainerOffsets o;
  const auto good = BuildContainer(recipe, &o);

  {  // 1: the size cannot be read
    FaultySource s(good, SIZE_MAX, 0, 5);
    ExpectFailure(ReadFailure(s), FailureKind::SizeUnknown, 5);
  }
  // 2: below 53 bytes, whatever the bytes say
  ExpectFailure(ReadFailure(std::vector<uint8_t>(good.begin(), good.begin() + 52)), FailureKind::TooSmall);
  ExpectFailure(ReadFailure(std::vector<uint8_t>(10, 'x')), FailureKind::TooSmall);
  {  // 3: the head cannot be read
    FaultySource s(good, 0, 30);
    ExpectFailure(ReadFailure(s), FailureKind::HeadUnreadable, 30);
  }
  // 4: signature, decided before the version byte
  auto bad = good;
  bad[1] = 'X';
  bad[3] = 9;
  ExpectFailure(ReadFailure(bad), FailureKind::BadSignature);
  // 5: version above 2
  bad = good;
  bad[3] = 3;
  ExpectFailure(ReadFailure(bad), FailureKind::BadVersion);
  // 6: too small for the version (the two prefixes differ)
  ContainerRecipe v1;
  v1.version = 1;
  const auto c1 = BuildContainer(v1);
  ASSERT_EQ(c1.size(), 134u);
  EXPECT_EQ(DecryptInMemory(c1, v1.password).size(), 0u);
  ExpectFailure(ReadFailure(std::vector<uint8_t>(c1.begin(), c1.end() - 1)), FailureKind::TooSmall);
  ContainerRecipe v2;
  v2.extensions = {};
  const auto c2 = BuildContainer(v2);
  ASSERT_EQ(c2.size(), 136u);
  ExpectFailure(ReadFailure(std::vector<uint8_t>(c2.begin(), c2.end() - 1)), FailureKind::TooSmallV2);
  {  // 7: an extension length, then an extension's content, cannot be read
    FaultySource s(good, 5, 21);
    ExpectFailure(ReadFailure(s), FailureKind::ExtensionLengthUnreadable, 21);
    FaultySource s2(good, 10, 22);
    ExpectFailure(ReadFailure(s2), FailureKind::ExtensionUnreadable, 22);
    FaultySource s3(good, 33, 23);  // the second extension's length
    ExpectFailure(ReadFailure(s3), FailureKind::ExtensionLengthUnreadable, 23);
  }
  // 8: ciphertext length not a multiple of 16, before any key is derived
  ExpectFailure(ReadFailure(std::vector<uint8_t>(good.begin(), good.end() - 5), "wrong"),
                FailureKind::BadCipherLength);
  // 9, 11, 12, 14: each field unreadable
  for (size_t at : {o.fileIv, o.keyBlock + 20, o.keyBlockMac + 31, o.ciphertext, o.ciphertext + 47,
                    o.lengthByte, o.bulkMac, o.bulkMac + 31}) {
    FaultySource s(good, at, 38);
    ExpectFailure(ReadFailure(s), FailureKind::Unreadable, 38);
  }
  // 11: wrong password, or any byte of file IV, key block or its MAC changed
  ExpectFailure(ReadFailure(good, "passwore"), FailureKind::KeyBlockMac);
  ExpectFailure(ReadFailure(good, ""), FailureKind::KeyBlockMac);
  for (size_t at : {o.fileIv, o.fileIv + 15, o.keyBlock, o.keyBlock + 47, o.keyBlockMac, o.keyBlockMac + 31}) {
    bad = good;
    bad[at] ^= 0x01;
    ExpectFailure(ReadFailure(bad), FailureKind::KeyBlockMac);
  }
  // 14: ciphertext or bulk MAC changed
  for (size_t at : {o.ciphertext, o.ciphertext + 47, o.bulkMac, o.bulkMac + 31}) {
    bad = good;
    bad[at] ^= 0x80;
    ExpectFailure(ReadFailure(bad), FailureKind::BulkMac);
  }
}

TEST(ContainerReader, VersionZeroNamesBothCausesAfterTheLastBlock) {
  ContainerRecipe recipe;
  recipe.version = 0;
  recipe.plaintext = Pattern(100);
  ContainerOffsets o;
  const auto c = BuildContainer(recipe, &o);
  ExpectFailure(ReadFailure(c, "wrong"), FailureKind::BulkMacV0);
  auto bad = c;
  bad[o.ciphertext + 3] ^= 1;
  ExpectFailure(ReadFailure(bad), FailureKind::BulkMacV0);
  // Every block was decrypted (and would have been written) before the MAC was known.
  MemorySource s(c.data(), c.size());
  ContainerReader reader(s, kPath);
  reader.ReadLayout();
  reader.Unlock("wrong", 5);
  std::vector<uint8_t> buffer(4096);
  EXPECT_EQ(reader.ReadPlaintext(buffer.data(), buffer.size()), 100u);
  EXPECT_THROW(reader.Finish(), SystemErrorException);
}

TEST(ContainerReader, TwoFaultsAtOnceTheEarlierCheckDecides) {
  ContainerRecipe recipe;
  recipe.plaintext = Pattern(20);
  const auto good = BuildContainer(recipe);
  auto bad = std::vector<uint8_t>(good.begin(), good.begin() + 52);
  bad[0] = 'Z';  // too small and a bad signature: size first
  ExpectFailure(ReadFailure(bad), FailureKind::TooSmall);
  bad = good;
  bad[2] = 'Z';
  bad[3] = 7;  // bad signature and version
  ExpectFailure(ReadFailure(bad), FailureKind::BadSignature);
  bad = std::vector<uint8_t>(good.begin(), good.end() - 3);
  bad[3] = 5;  // bad version and bad length
  ExpectFailure(ReadFailure(bad), FailureKind::BadVersion);
  bad = std::vector<uint8_t>(good.begin(), good.end() - 3);
  bad[good.size() - 40] ^= 1;  // bad length and a damaged MAC
  ExpectFailure(ReadFailure(bad), FailureKind::BadCipherLength);
  bad = good;
  bad[170] ^= 1;  // a damaged key block and a damaged ciphertext, wrong password too
  bad[good.size() - 50] ^= 1;
  ExpectFailure(ReadFailure(bad, "other"), FailureKind::KeyBlockMac);
}

TEST(ContainerReader, LengthByteHighBitsIgnoredLowBitsOnlyCutTheLastPiece) {
  ContainerRecipe recipe;
  recipe.plaintext = Pattern(37);
  recipe.lengthByteHighBits = 0xA0;
  ContainerOffsets o;
  auto c = BuildContainer(recipe, &o);
  EXPECT_EQ(DecryptInMemory(c, recipe.password), recipe.plaintext);
  for (uint8_t low = 0; low < 16; ++low) {
    c[o.lengthByte] = static_cast<uint8_t>(0x50 | low);  // not covered by either MAC
    const auto plain = DecryptInMemory(c, recipe.password);
    const size_t expected = 32 + (low ? low : 16);
    ASSERT_EQ(plain.size(), expected);
    EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + 37 < plain.end() ? plain.begin() + 37 : plain.end(),
                           recipe.plaintext.begin()));
  }
  // Version 0 keeps it in the head.
  recipe.version = 0;
  c = BuildContainer(recipe);
  c[4] = 0xF3;
  EXPECT_EQ(DecryptInMemory(c, recipe.password).size(), 35u);
}

TEST(ContainerReader, ExtensionLengthsRunningPastTheEndFailCleanly) {
  ContainerRecipe recipe;
  recipe.plaintext = Pattern(16);
  recipe.extensions = {};
  auto c = BuildContainer(recipe);  // 136 + 16 bytes: 16 bytes of room for extensions
  for (uint16_t claimed : {uint16_t{15}, uint16_t{17}, uint16_t{100}, uint16_t{0xFFFF}}) {
    auto bad = c;
    bad[5] = static_cast<uint8_t>(claimed >> 8);
    bad[6] = static_cast<uint8_t>(claimed);
    ExpectFailure(ReadFailure(bad), claimed + 2 > 16 ? FailureKind::TooSmallV2 : FailureKind::BadCipherLength);
  }
  // Exactly the room there is: read as an extension, leaving no ciphertext; the MAC then
  // decides.
  auto exact = c;
  exact[5] = 0;
  exact[6] = 14;
  exact[21] = exact[22] = 0;  // an end mark right after it
  ExpectFailure(ReadFailure(exact), FailureKind::KeyBlockMac);
  // Many tiny extensions that together overrun: bounded, fails cleanly.
  std::vector<uint8_t> many = {'A', 'E', 'S', 2, 0};
  for (int i = 0; i < 1000; ++i) many.insert(many.end(), {0, 1, 'z'});
  many.resize(many.size() + 130, 0);  // one byte short of a container with no ciphertext
  ExpectFailure(ReadFailure(many), FailureKind::TooSmallV2);
}

TEST(ContainerReader, PasswordBytesAreHashedAsGiven) {
  // "암호" in code page 949, in UTF-8 and in UTF-16LE: only the bytes it was made with open it.
  const std::string cp949 = "\xbe\xcf\xc8\xa3";
  const std::string utf8 = "\xec\x95\x94\xed\x98\xb8";
  const std::string utf16("\x54\xc5\x38\xd6", 4);
  ContainerRecipe recipe;
  recipe.password = cp949;
  recipe.plaintext = Pattern(50);
  const auto c = BuildContainer(recipe);
  EXPECT_EQ(DecryptInMemory(c, cp949), recipe.plaintext);
  ExpectFailure(ReadFailure(c, utf8), FailureKind::KeyBlockMac);
  ExpectFailure(ReadFailure(c, utf16), FailureKind::KeyBlockMac);
}

TEST(ContainerWriter, NewKeysGiveANewContainerFromTheFileIvOn) {
  ContainerRecipe a, b;
  b.fileIv[0] ^= 1;
  b.bulkIvAndKey[0] ^= 1;
  const auto plain = Pattern(64);
  const auto ca = Write(plain, "pw", a), cb = Write(plain, "pw", b);
  ASSERT_EQ(ca.size(), cb.size());
  EXPECT_TRUE(std::equal(ca.begin(), ca.begin() + 165, cb.begin()));
  for (size_t block = 165; block + 16 <= ca.size() - 33; block += 16)
    EXPECT_FALSE(std::equal(ca.begin() + static_cast<long>(block), ca.begin() + static_cast<long>(block) + 16,
                            cb.begin() + static_cast<long>(block)))
        << block;
}

namespace {
// A sink that accepts `allowed` bytes, then fails with code 112.
class FullSink : public ContainerSink {
 public:
  explicit FullSink(size_t allowed) : m_allowed(allowed) {}
  uint32_t Write(const void*, uint32_t count) override {
    if (count > m_allowed) return 112;
    m_allowed -= count;
    return 0;
  }

 private:
  size_t m_allowed;
};
}  // namespace

// The question a front end asks before choosing between two encodings of one password.
TEST(ContainerReader, CheckPasswordReadsNoFurtherThanTheKeyBlock) {
  struct Case {
    int version;
    const char* password;
    uint64_t keep;  // bytes of the container left; 0: all
    PasswordCheck expected;
  } cases[] = {
      {2, "password", 0, PasswordCheck::Opens},   {2, "passwore", 0, PasswordCheck::Wrong},
      {1, "password", 0, PasswordCheck::Opens},   {1, "", 0, PasswordCheck::Wrong},
      {0, "password", 0, PasswordCheck::Undecided}, {0, "wrong", 0, PasswordCheck::Undecided},
      // The data after the key block is never looked at: a container cut in its
      // ciphertext still answers (its size, whole blocks, is all the reader checks first).
      {2, "password", kWrittenOverhead + 32, PasswordCheck::Opens},
  };
  for (const Case& c : cases) {
    ContainerRecipe recipe;
    recipe.version = c.version;
    recipe.plaintext = Pattern(100);
    std::vector<uint8_t> bytes = BuildContainer(recipe);
    if (c.keep) bytes.resize(static_cast<size_t>(c.keep));
    MemorySource source(bytes.data(), bytes.size());
    EXPECT_EQ(CheckPassword(source, kPath, c.password, std::strlen(c.password)), c.expected)
        << "version " << c.version << ", " << c.password;
  }
  // A container refused before its key block raises that failure, path and all.
  const std::vector<uint8_t> tiny(20, 'A');
  MemorySource source(tiny.data(), tiny.size());
  try {
    CheckPassword(source, kPath, "password", 8);
    ADD_FAILURE() << "a 20-byte container was not refused";
  } catch (const SystemErrorException& e) {
    ExpectFailure(e, FailureKind::TooSmall);
  }
}

TEST(ContainerWriter, WriteFailuresNameTheOutputAndTheKeyBlockOwnsItsMessage) {
  ContainerRecipe keys;
  const auto plain = Pattern(1000);
  struct Case {
    size_t allowed;
    const char* prefix;
  } cases[] = {{0, "파일을 쓸 수 없습니다.\r\n"},
               {181, "파일을 쓸 수 없습니다.\n"},
               {229, "파일을 쓸 수 없습니다.\r\n"},
               {261, "파일을 쓸 수 없습니다.\r\n"},
               {261 + 1008, "파일을 쓸 수 없습니다.\r\n"}};
  for (const Case& c : cases) {
    FullSink sink(c.allowed);
    ContainerWriter writer(sink, "D:\\out\\a.txt.aqv3");
    try {
      writer.WriteHead(keys.fileIv, keys.bulkIvAndKey, "pw", 2);
      writer.WritePlaintext(plain.data(), plain.size());
      writer.Finish();
      ADD_FAILURE() << "no failure with " << c.allowed << " bytes of room";
    } catch (const SystemErrorException& e) {
      EXPECT_EQ(FailureText(e.m_failure), std::string(c.prefix) + "D:\\out\\a.txt.aqv3") << c.allowed;
      EXPECT_EQ(e.m_failure.code, 112u);
    }
  }
}
