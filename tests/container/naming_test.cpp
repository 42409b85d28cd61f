#include "container/naming.h"

#include <gtest/gtest.h>

#include <string>

#include "container/engines.h"
#include "platform/file_ops.h"
#include "platform/working_folder.h"

namespace {
std::string Name(const char* path, bool generic = false) {
  return std::string(path) + "." + ChooseEncryptedExtension(path, generic);
}
}  // namespace

TEST(Naming, CategoriesFromThePlaintextExtension) {
  EXPECT_EQ(Name("photo.JPG"), "photo.JPG.pqv3");
  EXPECT_EQ(Name("a.jpeg"), "a.jpeg.pqv3");
  EXPECT_EQ(Name("a.jpe"), "a.jpe.bqv3");  // whole-text equality, no prefix match
  EXPECT_EQ(Name("archive.tar.gz"), "archive.tar.gz.zqv3");
  EXPECT_EQ(Name("README"), "README.bqv3");
  EXPECT_EQ(Name("file."), "file..bqv3");
  EXPECT_EQ(Name("C:\\old.docs\\README"), "C:\\old.docs\\README.bqv3");
  EXPECT_EQ(Name("C:\\old.docs\\report.docx"), "C:\\old.docs\\report.docx.wqv3");
  EXPECT_EQ(Name("report.docx", true), "report.docx.aqv3");
  EXPECT_EQ(Name("README", true), "README.aqv3");
  for (const char* other : {"htm", "txt", "docm", "", "x"})
    EXPECT_STREQ(ChooseEncryptedExtension((std::string("f.") + other).c_str(), false), "bqv3") << other;
}

TEST(Naming, EveryRowOfTheTable) {
  const struct {
    const char* extensions;
    const char* container;
  } categories[] = {
      {"gif jpeg jpg png bmp", "pqv3"},
      {"ps", "dqv3"},
      {"avi wmv 3gp swf asf rm mov flv mpg mp4 vob", "mqv3"},
      {"mp3 ogg mid wma mpa ra wav", "sqv3"},
      {"xls xlsx", "xqv3"},
      {"doc docx odtx", "wqv3"},
      {"ppt pptx", "tqv3"},
      {"hwp", "hqv3"},
      {"pdf", "fqv3"},
      {"gul", "gqv3"},
      {"dwg dwf dxf", "cqv3"},
      {"zip 7z rar alz lzh gz arj egg", "zqv3"},
  };
  int rows = 0;
  for (const auto& c : categories) {
    std::string list = c.extensions;
    size_t pos = 0;
    while (pos < list.size()) {
      size_t end = list.find(' ', pos);
      if (end == std::string::npos) end = list.size();
      const std::string ext = list.substr(pos, end - pos);
      std::string upper = ext;
      for (char& ch : upper) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
      EXPECT_STREQ(ChooseEncryptedExtension(("x." + ext).c_str(), false), c.container) << ext;
      EXPECT_STREQ(ChooseEncryptedExtension(("x." + upper).c_str(), false), c.container) << upper;
      ++rows;
      pos = end + 1;
    }
  }
  EXPECT_EQ(rows, 45);
}

TEST(Naming, KoreanNamesWithDots) {
  EXPECT_EQ(Name("C:\\문서\\2024.예산안.xlsx"), "C:\\문서\\2024.예산안.xlsx.xqv3");
  EXPECT_EQ(Name("보고서.최종.hwp"), "보고서.최종.hwp.hqv3");
  EXPECT_EQ(Name("C:\\사진.모음\\가족"), "C:\\사진.모음\\가족.bqv3");
  EXPECT_EQ(Name("회의록.한글"), "회의록.한글.bqv3");
  EXPECT_EQ(Name("회의록.한글", true), "회의록.한글.aqv3");
}

TEST(Naming, TheReaderTakesOffExactlyWhatTheWriterAdded) {
  for (const char* plain : {"a", "report.docx", "보고서.hwp", "x.tar.gz", "noext"}) {
    for (bool generic : {false, true}) {
      const std::string container = Name(plain, generic);
      EXPECT_EQ(container.substr(0, container.size() - 5), plain);
    }
  }
}

TEST(Naming, NumberedNamesForATakenName) {
  const std::string sep(1, kPathSeparator);
  const struct {
    std::string path;
    unsigned n;
    std::string numbered;
  } cases[] = {
      {"a.txt", 1, "a.txt"},
      {"a.txt", 2, "a (2).txt"},
      {"x.tar.gz", 10, "x.tar (10).gz"},
      {"README", 3, "README (3)"},
      {".profile", 2, ".profile (2)"},
      {"old.docs" + sep + "README", 2, "old.docs" + sep + "README (2)"},
      {"문서" + sep + "보고서.최종.hwp", 99, "문서" + sep + "보고서.최종 (99).hwp"},
  };
  for (const auto& c : cases) EXPECT_EQ(NumberedName(c.path, c.n), c.numbered) << c.path << " " << c.n;
}

// Where the engine writes a plaintext and where the viewer looks for it afterwards.
TEST(Naming, PlaintextPathBesideOrInTheWorkingFolder) {
  const std::string workingFolder = WorkingFolder();
  const std::string folder = workingFolder + kPathSeparator;
  const std::string sep(1, kPathSeparator);
  // The plaintext's last temporary name ("….qv3part99", 5 bytes longer than the
  // container's name) and its terminator must fit the limit.
  const std::string longest = std::string(kMaxPathLength - 6 - 5, 'n') + ".aqv3";
  const std::string room = std::string(kMaxPathLength - folder.size() - 6 - 5, 'n') + ".zqv3";
  std::string hangul200;
  for (int i = 0; i < 200; ++i) hangul200 += "가";
  using P = PlaintextNameProblem;
  struct Case {
    std::string container;
    bool toWorkingFolder;
    P problem;
    std::string plaintext;
  } cases[] = {
      {"d" + sep + "report.docx.aqv3", false, P::None, "d" + sep + "report.docx"},
      {"d" + sep + "report.docx.aqv3", true, P::None, folder + "report.docx"},
      {"d" + sep + "보고서.hwp.hqv3", true, P::None, folder + "보고서.hwp"},
      {"noseparator.aqv3", false, P::None, "noseparator"},
      {"noseparator.aqv3", true, P::Invalid, ""},
      // The last five bytes go, whatever they are.
      {"d" + sep + "ab.aqv3", true, P::None, folder + "ab"},
      {"d" + sep + "a.aqv", true, P::Odd, ""},
      {"a.aqv", false, P::Odd, ""},
      // Only the containers' own extensions, in any letter case, come off.
      {"ab.aqv", false, P::NotContainer, ""},
      {"d" + sep + "renamed.bin", false, P::NotContainer, ""},
      {"d" + sep + "보고서", true, P::NotContainer, ""},
      {"d" + sep + "Photo.JPG.PQV3", false, P::None, "d" + sep + "Photo.JPG"},
      {"d" + sep + "x.aqv3.bak", false, P::NotContainer, ""},
      {longest, false, P::None, longest.substr(0, longest.size() - 5)},
      {"n" + longest, false, P::Invalid, ""},
      // The limit counts what the system counts: 200 Hangul characters (600 bytes) fit
      // Windows' 260 characters.
      {"d" + sep + hangul200 + ".txt.aqv3", false, P::None, "d" + sep + hangul200 + ".txt"},
      // In the working folder the whole path and its temporary siblings must fit.
      {"d" + sep + room, true, P::None, folder + room.substr(0, room.size() - 5)},
      {"d" + sep + "n" + room, true, P::Invalid, ""},
  };
  for (const Case& c : cases) {
    std::string out = "untouched";
    EXPECT_EQ(PlaintextPath(c.container, c.toWorkingFolder, workingFolder, &out), c.problem) << c.container;
    EXPECT_EQ(out, c.problem == P::None ? c.plaintext : "untouched") << c.container;
  }
}
