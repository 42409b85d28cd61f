#include "app/command_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/file_ops.h"

namespace {

std::vector<std::string> Split(const std::string& text) {
  int count = -1;
  char** table = SplitCommandLine(text.c_str(), &count);
  EXPECT_NE(table, nullptr);
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(table[i]);
  EXPECT_EQ(table[count], nullptr);
  FreeArgumentBlock(table);
  return args;
}

using Args = std::vector<std::string>;

}  // namespace

TEST(SplitCommandLine, QuotingRules) {
  EXPECT_EQ(Split("\"a b\"c"), Args{"a bc"});
  EXPECT_EQ(Split("ab\"c d\"e"), Args{"abc de"});
  EXPECT_EQ(Split("\"\""), Args{""});
  EXPECT_EQ(Split("\"a b"), Args{"a b"});
  EXPECT_EQ(Split(""), Args{});
  EXPECT_EQ(Split(" \t\r\n "), Args{});
  EXPECT_EQ(Split("  a \t\t b\r\nc  "), (Args{"a", "b", "c"}));
  EXPECT_EQ(Split("C:\\a\\b.exe \"C:\\My Docs\\x.aqv3\" y"), (Args{"C:\\a\\b.exe", "C:\\My Docs\\x.aqv3", "y"}));
  EXPECT_EQ(Split("a\\\"b c\""), Args{"a\\b c"});  // no escape: the backslash stays, the quote opens
  EXPECT_EQ(Split("\"\" \"\""), (Args{"", ""}));
  EXPECT_EQ(Split("\"x\"\"y\""), Args{"xy"});
  EXPECT_EQ(Split("\"tab\tinside\""), Args{"tab\tinside"});
  EXPECT_EQ(Split("보고서.hwp.aqv3 \"회의 록.aqv3\""), (Args{"보고서.hwp.aqv3", "회의 록.aqv3"}));
}

TEST(SplitCommandLine, TheBlockHoldsEveryShapeOfLine) {
  // The densest lines for the table and the text area, checked under the sanitizers.
  for (const std::string unit : {"a ", "\"\" ", "\"\"", "a", " "}) {
    std::string line;
    for (int n = 0; n < 300; ++n) {
      line += unit;
      const auto args = Split(line);
      ASSERT_LE(args.size(), line.size());
    }
  }
}

TEST(CommandLineTail, SkipsTheProgramPathAsOneToken) {
  EXPECT_STREQ(CommandLineTail("\"C:\\Program Files\\v.exe\" /RegServer"), "/RegServer");
  EXPECT_STREQ(CommandLineTail("C:\\v.exe   /regserver"), "/regserver");
  EXPECT_STREQ(CommandLineTail("v.exe"), "");
  EXPECT_STREQ(CommandLineTail("\"v.exe\"x.aqv3"), "x.aqv3");
  EXPECT_STREQ(CommandLineTail("\"unterminated"), "");
  EXPECT_STREQ(CommandLineTail("v.exe \t a b"), "a b");
}
