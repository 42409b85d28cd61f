#include "platform/working_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kTemp[] = "C:\\TEMP\\";
const char kLocal[] = "C:\\Users\\kim\\AppData\\Local";

// GetWorkingFolder into a buffer full of other bytes: the answer must be terminated.
std::string FromFilledBuffer() {
  std::vector<char> buffer(520, 'X');
  GetWorkingFolder(buffer.size(), buffer.data());
  EXPECT_NE(std::memchr(buffer.data(), '\0', buffer.size()), nullptr) << "not terminated";
  return std::string(buffer.data());
}

}  // namespace

TEST(ComposeWorkingFolder, LocalAppDataLowSiblingOrTheTemporaryFolder) {
  struct Case {
    const char* temp;
    const char* local;
    bool productRunning;
    const char* expected;
  };
  const Case cases[] = {
      // The sibling whose name ends in Low: no separator before "Low".
      {kTemp, kLocal, false, "C:\\Users\\kim\\AppData\\LocalLow\\QV3V"},
      {kTemp, kLocal, true, "C:\\Users\\kim\\AppData\\LocalLow\\QV31V"},
      // Without the local folder the result must stay absolute: "\QV3V" alone would be a
      // folder of the current drive. The temporary folder gets no Low.
      {kTemp, "", false, "C:\\TEMP\\QV3V"},
      {kTemp, "", true, "C:\\TEMP\\QV31V"},
      {"C:\\", "", false, "C:\\QV3V"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ComposeWorkingFolder(c.temp, c.local, c.productRunning), c.expected)
        << c.temp << " | " << c.local << " | " << c.productRunning;
}

TEST(StripTrailingBackslash, RemovesOneTrailingBackslashInPlace) {
  char path[] = "C:\\TEMP\\";
  EXPECT_EQ(StripTrailingBackslash(path), path);
  EXPECT_STREQ(path, "C:\\TEMP");
  EXPECT_STREQ(StripTrailingBackslash(path), "C:\\TEMP") << "nothing to remove";
  char doubled[] = "C:\\TEMP\\\\";
  EXPECT_STREQ(StripTrailingBackslash(doubled), "C:\\TEMP\\");
  char only[] = "\\";
  EXPECT_STREQ(StripTrailingBackslash(only), "");
  char empty[] = "";
  EXPECT_STREQ(StripTrailingBackslash(empty), "");
  char inner[] = "a\\b";
  EXPECT_STREQ(StripTrailingBackslash(inner), "a\\b");
}

TEST(GetWorkingFolder, GivesTheSameAbsolutePathEveryTime) {
  const std::string first = FromFilledBuffer();
  EXPECT_EQ(FromFilledBuffer(), first);
#ifdef _WIN32
  ASSERT_GE(first.size(), 3u);
  EXPECT_TRUE(std::isalpha(static_cast<unsigned char>(first[0])) && first[1] == ':' && first[2] == '\\') << first;
  const std::string last = "\\QV3V";
#else
  EXPECT_EQ(first[0], '/') << first;
  const std::string last = "/QV3V";
#endif
  ASSERT_GT(first.size(), last.size() + 1) << first;
  EXPECT_EQ(first.substr(first.size() - last.size()), last) << first;
  EXPECT_NE(first[first.size() - last.size() - 1], last[0]) << "doubled separator: " << first;
}

TEST(GetWorkingFolder, NeverWritesPastTheBufferAndAlwaysTerminates) {
  const std::string full = FromFilledBuffer();
  for (size_t length : {size_t{1}, size_t{2}, size_t{7}, full.size(), full.size() + 1, full.size() + 2}) {
    std::vector<char> buffer(length + 16, '#');
    GetWorkingFolder(length, buffer.data());
    const size_t written = std::strlen(buffer.data());
    EXPECT_LT(written, length) << "length " << length;
    EXPECT_EQ(std::string(buffer.data()), full.substr(0, written)) << "length " << length;
    // A double-byte character that does not fit whole is left out.
    EXPECT_LE(written, std::min(full.size(), length - 1)) << "length " << length;
    EXPECT_GE(written + 1, std::min(full.size(), length - 1)) << "length " << length;
    for (size_t i = length; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], '#') << "length " << length;
  }
  char untouched = '#';
  GetWorkingFolder(0, &untouched);
  EXPECT_EQ(untouched, '#');
}
