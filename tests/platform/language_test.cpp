// Which language the texts are shown in, and the catalog that holds their English.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "platform/catalog.h"
#include "platform/language.h"

namespace {

// Every road through the rule, as gettext reads the variables.
TEST(Language, FromTheEnvironmentInGettextsOrder) {
  const Language ko = Language::Korean, en = Language::English;
  const struct {
    const char *language, *lcAll, *lcMessages, *lang;
    Language expected;
  } cases[] = {
      {nullptr, nullptr, nullptr, nullptr, ko},                // nothing set: the home language
      {"", "", "", "", ko},
      {nullptr, "C", nullptr, "en_US.UTF-8", ko},              // LC_ALL first
      {nullptr, "C.UTF-8", nullptr, nullptr, ko},
      {nullptr, "POSIX", nullptr, nullptr, ko},
      {"en", "C", nullptr, nullptr, ko},                       // LANGUAGE is not read under C
      {nullptr, nullptr, nullptr, "ko_KR.UTF-8", ko},
      {nullptr, nullptr, nullptr, "ko", ko},
      {nullptr, nullptr, nullptr, "en_US.UTF-8", en},
      {nullptr, nullptr, nullptr, "fr_FR.UTF-8", en},          // any other language: English
      {nullptr, nullptr, "ko_KR.UTF-8", "en_US.UTF-8", ko},    // LC_MESSAGES before LANG
      {nullptr, "en_GB.UTF-8", "ko_KR.UTF-8", nullptr, en},
      {"ko", nullptr, nullptr, "en_US.UTF-8", ko},             // LANGUAGE before the locale
      {"fr:ko:en", nullptr, nullptr, "de_DE.UTF-8", ko},       // its first known language
      {"fr:en_GB:ko", nullptr, nullptr, "ko_KR.UTF-8", en},
      {"fr:de", nullptr, nullptr, "ko_KR.UTF-8", en},          // only others: English
      {nullptr, nullptr, nullptr, "kok_IN.UTF-8", en},         // Konkani is not Korean
      {nullptr, nullptr, nullptr, "ko_KR@euro", ko},
      {nullptr, nullptr, nullptr, "Chinese", en},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.language ? c.language : "-") << " " << (c.lcAll ? c.lcAll : "-") << " "
                                    << (c.lcMessages ? c.lcMessages : "-") << " " << (c.lang ? c.lang : "-"));
    EXPECT_EQ(LanguageFromEnvironment(c.language, c.lcAll, c.lcMessages, c.lang), c.expected);
  }
}

#ifndef _WIN32
// The catalog the build made from po/en.po, read as the programs read it; and what is
// not a catalog is refused whole.
TEST(MessageCatalog, ReadsTheBuiltCatalogAndRefusesOthers) {
  std::ifstream in(QV3_BUILT_CATALOG, std::ios::binary);
  ASSERT_TRUE(in) << QV3_BUILT_CATALOG;
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  MessageCatalog catalog;
  ASSERT_TRUE(catalog.Parse(bytes));
  EXPECT_GT(catalog.Size(), 40u);
  EXPECT_STREQ(catalog.Find("파일에 오류가 있습니다.\r\n"), "The file cannot be opened:\r\n");
  EXPECT_STREQ(catalog.Find("타르베신 외부암호파일 뷰어"), "TarvessinViewer");
  EXPECT_EQ(catalog.Find("no such text"), nullptr);
  EXPECT_EQ(catalog.Find(""), nullptr) << "the header is no text";

  for (const std::string& bad : {std::string(), std::string("not a catalog at all"), bytes.substr(0, 40),
                                 bytes.substr(0, bytes.size() / 2)}) {
    MessageCatalog other;
    EXPECT_FALSE(other.Parse(bad)) << bad.size() << " bytes";
    EXPECT_EQ(other.Size(), 0u);
  }
}
#endif

}  // namespace
