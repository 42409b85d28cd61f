#include "platform/mbstring.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(MbString, SearchesAndComparesAsciiInPlainText) {
  const char* path = "C:\\dir.x\\file.tar.gz";
  EXPECT_EQ(MbsRChr(path, '.'), path + std::strlen(path) - 3);
  EXPECT_EQ(MbsChr(path, '.'), path + 6);
  EXPECT_EQ(MbsRChr(path, '\\'), path + 8);
  EXPECT_EQ(MbsRChr("none", '.'), nullptr);
  EXPECT_EQ(MbsICmp("JPG", "jpg"), 0);
  EXPECT_EQ(MbsICmp("jpeg", "jpg"), 'e' - 'g');
  EXPECT_LT(MbsICmp("jp", "jpg"), 0);
  EXPECT_GT(MbsICmp("jpgx", "jpg"), 0);
  EXPECT_EQ(MbsICmp("", ""), 0);
}

TEST(MbString, KoreanTextKeepsItsCharactersWhole) {
  const std::string s = "가족.사진.모음";
  EXPECT_EQ(std::string(MbsRChr(s.c_str(), '.')), ".모음");
  EXPECT_EQ(MbsICmp("한글.HWP", "한글.hwp"), 0);
  EXPECT_NE(MbsICmp("한글", "한굴"), 0);
  char dst[8];
  MbsBoundedCopy(dst, "ab", 7);
  EXPECT_STREQ(dst, "ab");
  MbsBoundedCopy(dst, "abcdefghij", 7);
  EXPECT_STREQ(dst, "abcdefg");
}

#ifdef _WIN32
// In code page 949 a double-byte character's second byte may be an ASCII letter
// ("갂" is 0x81 0x41, "갋" is 0x81 0x61): it must never be case-folded or matched alone.
TEST(MbString, TrailBytesAreNeverTakenForAscii) {
  EXPECT_NE(MbsICmp("\x81\x41", "\x81\x61"), 0);
  EXPECT_EQ(MbsChr("\x81\x41", 'A'), nullptr);
  EXPECT_EQ(MbsRChr("x\x81\x41", 'A'), nullptr);
  char dst[4];
  MbsBoundedCopy(dst, "a\x81\x41", 2);  // the character would be split: left out
  EXPECT_STREQ(dst, "a");
}
#endif
