#include "container/password_rule.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "container/engines.h"
#include "platform/codepage.h"
#include "platform/lock.h"
#include "tests/container/container_builder.h"
#include "tests/engine_fixture.h"

using namespace testutil;

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
  return parts;
}

std::string Hex(const std::string& bytes) { return ToHex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()); }

// The rows of the shared table for the system the test runs on: natively the one without
// an ANSI code page, under Wine its prefix's.
TEST(PasswordRule, EachTypedTextOpensAndMakesAsTheTableSays) {
  const unsigned page = SystemAnsiCodePage();
  const std::string system = page == 0 ? "none" : std::to_string(page);
  std::ifstream table(DataPath("password_rule.tsv"), std::ios::binary);
  ASSERT_TRUE(table.is_open());
  int rows = 0;
  for (std::string line; std::getline(table, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> f = Split(line, '\t');
    ASSERT_EQ(f.size(), 5u) << line;
    if (f[1] != system) continue;
    ++rows;
    const std::string& typed = f[0];
    const PasswordCandidates opening = OpeningCandidates(typed);
    std::vector<std::string> got;
    for (size_t i = 0; i < opening.Count(); ++i) got.push_back(Hex(opening[i]));
    EXPECT_EQ(got, Split(f[2], ',')) << typed << " on " << system;

    const NewPassword made = MakingPassword(typed, kPromptPasswordBytes);
    if (f[3].rfind("refused:", 0) == 0) {
      EXPECT_FALSE(made.accepted) << typed;
      EXPECT_EQ(made.lacking, f[3].substr(8)) << typed;
      EXPECT_NE(NewPasswordRefusal(made).find(made.lacking), std::string::npos);
    } else {
      EXPECT_TRUE(made.accepted) << typed;
      EXPECT_EQ(Hex(made.bytes), f[3]) << typed;
      EXPECT_EQ(std::to_string(made.keptCharacters) + "/" + std::to_string(made.typedCharacters), f[4]) << typed;
    }
  }
  EXPECT_GE(rows, 7) << "no rows for the system " << system;
}

// What a password file, a command line's typing and a container's name add to the rule.
TEST(PasswordRule, GivenBytesWholeTypingAndTheCategoryExtensions) {
  auto list = [](const PasswordCandidates& c) {
    std::vector<std::string> v;
    for (size_t i = 0; i < c.Count(); ++i) v.push_back(c[i]);
    return v;
  };
  // A password file of 15 characters: as given, then as a prompt takes it.
  EXPECT_EQ(list(GivenPasswordCandidates("123456789012345")),
            (std::vector<std::string>{"123456789012345", "12345678901"}));
  // Bytes that are not text stand alone.
  EXPECT_EQ(list(GivenPasswordCandidates("\xBE\xCF\xC8\xA3")), (std::vector<std::string>{"\xBE\xCF\xC8\xA3"}));
  // qv3's typing: the prompt's forms first, then the whole ones.
  const std::vector<std::string> whole = list(OpeningCandidates("123456789012345", TypedLength::AlsoWhole));
  EXPECT_EQ(whole, (std::vector<std::string>{"12345678901", "123456789012345"}));
  // The empty password goes first for a category extension only, in any letter case.
  PasswordCandidates typed = OpeningCandidates("pw");
  EXPECT_EQ(list(CandidatesForContainer("a/b.txt.BQV3", typed)), (std::vector<std::string>{"", "pw"}));
  EXPECT_EQ(list(CandidatesForContainer("a/b.txt.aqv3", typed)), (std::vector<std::string>{"pw"}));
  EXPECT_EQ(list(CandidatesForContainer("a/b.txt.pqv3.x", typed)), (std::vector<std::string>{"pw"}));
}

// Each container of one run is opened by whichever form it was keyed with, in any order
// and any version; a container none opens fails alone as a wrong password.
struct PerContainer : testing::Test {
  TempDir dir;
  Lock lock;
  RecordingUi ui;
  std::string Make(const std::string& name, const std::string& password, int version) {
    ContainerRecipe recipe;
    recipe.version = version;
    recipe.password = password;
    recipe.plaintext.assign(100 + name.size(), static_cast<uint8_t>(name[0]));
    WriteBytes(dir / name, BuildContainer(recipe));
    return dir / name;
  }
};

TEST_F(PerContainer, EveryContainerTriesEveryCandidateOnItsOwn) {
  std::string cp949;
  ASSERT_TRUE(Utf8ToCp949("가나다라마", &cp949));
  const std::string utf8Cut = "가나다";  // 9 bytes: an earlier build's prompt took these
  const PasswordCandidates typed = OpeningCandidates("가나다라마");
  const std::vector<std::string> files = {
      Make("u.txt.aqv3", utf8Cut, 2),  Make("k.txt.aqv3", cp949, 2), Make("k0.txt.aqv3", cp949, 0),
      Make("u0.txt.aqv3", utf8Cut, 0), Make("e.txt.bqv3", "", 2),    Make("e0.txt.pqv3", "", 0),
      Make("u1.txt.aqv3", utf8Cut, 1),
  };
  for (bool reversed : {false, true}) {
    FileList list;
    for (size_t i = 0; i < files.size(); ++i) list.Append(files[reversed ? files.size() - 1 - i : i]);
    DecryptOptions options;
    options.overwrite = true;
    EXPECT_EQ(DecryptFiles(lock, list, typed, options, ui), JobOutcome(files.size(), FileOutcome::Done));
    EXPECT_TRUE(ui.errors.empty());
  }
  for (const std::string& file : files) {
    const std::string plaintext = file.substr(0, file.size() - 5);
    const std::string name = file.substr(file.find_last_of("/\\") + 1);
    EXPECT_EQ(ReadBytes(plaintext), std::vector<uint8_t>(100 + name.size(), static_cast<uint8_t>(name[0])))
        << plaintext;
  }
  for (int version : {0, 2}) {
    FileList wrong;
    wrong.Append(Make("w" + std::to_string(version) + ".txt.bqv3", "other", version));
    EXPECT_EQ(DecryptFiles(lock, wrong, typed, DecryptOptions(), ui), JobOutcome{FileOutcome::Failed});
    ASSERT_EQ(ui.errors.size(), 1u);
    EXPECT_EQ(ui.errors[0].message, FailureText({version ? FailureKind::KeyBlockMac : FailureKind::BulkMacV0, 0,
                                                 dir / ("w" + std::to_string(version) + ".txt.bqv3")}));
    ui.errors.clear();
  }
}

}  // namespace
