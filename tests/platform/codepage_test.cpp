#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>

// Byte escapes, not literals: the Windows build turns Korean literals into code page 949.
namespace {
const std::string kAmhoUtf8 = "\xEC\x95\x94\xED\x98\xB8";  // 암호
const std::string kAmhoCp949 = "\xBE\xCF\xC8\xA3";
}  // namespace

TEST(Codepage, KoreanTextConvertsBothWays) {
  std::string cp949, utf8;
  ASSERT_TRUE(Utf8ToCp949(kAmhoUtf8, &cp949));
  EXPECT_EQ(cp949, kAmhoCp949);
  ASSERT_TRUE(Cp949ToUtf8(cp949, &utf8));
  EXPECT_EQ(utf8, kAmhoUtf8);

  // 똠 (U+B620) is one of the syllables code page 949 adds to the older Korean set.
  ASSERT_TRUE(Utf8ToCp949("\xEB\x98\xA0", &cp949));
  EXPECT_EQ(cp949, "\x8C\x63");
  ASSERT_TRUE(Cp949ToUtf8("\x8C\x63", &utf8));
  EXPECT_EQ(utf8, "\xEB\x98\xA0");

  const std::string mixed = "pass " + kAmhoUtf8 + " 123!";
  ASSERT_TRUE(Utf8ToCp949(mixed, &cp949));
  EXPECT_EQ(cp949, "pass " + kAmhoCp949 + " 123!");
  ASSERT_TRUE(Cp949ToUtf8(cp949, &utf8));
  EXPECT_EQ(utf8, mixed);

  ASSERT_TRUE(Utf8ToCp949("", &cp949));
  EXPECT_EQ(cp949, "");
  ASSERT_TRUE(Cp949ToUtf8("", &utf8));
  EXPECT_EQ(utf8, "");
}

TEST(Codepage, RefusesWhatCannotBeConvertedExactly) {
  std::string out = "stale";
  const char* badUtf8[] = {
      "\xFF",                  // never valid
      "a\xC3\x28",             // lead byte followed by ASCII
      "\xEC\x95",              // cut-off character
      "\xC0\xAF",              // overlong '/'
      "\xED\xA0\x80",          // a surrogate half
  };
  for (const char* bad : badUtf8) {
    EXPECT_FALSE(Utf8ToCp949(bad, &out)) << testing::PrintToString(bad);
    EXPECT_EQ(out, "") << "no partial result";
  }
  EXPECT_FALSE(Utf8ToCp949("\xF0\x9F\x98\x80", &out)) << "an emoji has no code page 949 form";
  EXPECT_FALSE(Utf8ToCp949(kAmhoUtf8 + "caf\xC3\xA9", &out))
      << "no look-alike (a plain e) for an accented e either";

  EXPECT_FALSE(Cp949ToUtf8("\xBE", &out)) << "lead byte without its trail byte";
  EXPECT_FALSE(Cp949ToUtf8("\xBE\x20", &out)) << "a space is no trail byte";
  EXPECT_FALSE(Cp949ToUtf8("\xFF\xFF", &out));
}
