#include "container/engines.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "container/format.h"
#include "container/naming.h"
#include "platform/file_handle.h"
#include "platform/file_ops.h"
#include "platform/lock.h"
#include "platform/random.h"
#include "platform/working_folder.h"
#include "tests/container/container_builder.h"
#include "tests/engine_fixture.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace testutil;

namespace {

#ifdef _WIN32
constexpr uint32_t kNotFound = 2, kExists = 80, kDenied = 5;
#else
constexpr uint32_t kNotFound = 2, kExists = 17, kDenied = 13;
#endif

// A password buffer as the job record holds it, filled behind the terminator so that the
// test sees whether all 256 bytes were wiped.
struct PasswordBuffer {
  char bytes[257];
  explicit PasswordBuffer(const std::string& pw) {
    std::memset(bytes, 'Z', sizeof bytes);
    std::memcpy(bytes, pw.c_str(), pw.size() + 1);
  }
  bool Wiped() const {
    for (int i = 0; i < 256; ++i)
      if (bytes[i] != 0) return false;
    return true;
  }
};

FileList List(std::initializer_list<std::string> paths) {
  FileList list;
  for (const auto& p : paths) list.Append(p);
  return list;
}

struct Fixture : testing::Test {
  TempDir dir;
  Lock lock;
  RecordingUi ui;

  // Writes a container for plaintext under name, made independently of the engines.
  std::string Container(const std::string& name, const std::vector<uint8_t>& plaintext,
                        const std::string& password = "pw", int version = 2) {
    ContainerRecipe recipe;
    recipe.version = version;
    recipe.password = password;
    recipe.plaintext = plaintext;
    const std::string path = dir / name;
    WriteBytes(path, BuildContainer(recipe));
    return path;
  }
  JobOutcome Decrypt(FileList& files, const std::string& password, bool deleteSource = false,
                     bool toWorkingFolder = false, bool overwrite = false) {
    DecryptOptions options;
    options.deleteSource = deleteSource;
    options.toWorkingFolder = toWorkingFolder;
    options.workingFolder = WorkingFolder();
    options.overwrite = overwrite;
    PasswordBuffer pw(password);
    const JobOutcome outcome = DecryptFiles(lock, files, pw.bytes, options, ui);
    EXPECT_TRUE(pw.Wiped());
    EXPECT_EQ(ui.opened, 1);
    EXPECT_EQ(ui.closed, 1);
    EXPECT_EQ(ui.operation, OPERATION_DECRYPT);
    ExpectOutcomeMatchesWhatWasShown(outcome);
    return outcome;
  }
  JobOutcome Encrypt(FileList& files, const std::string& password, bool deleteSource = false,
                     bool generic = true, RandomSource* random = nullptr) {
    PasswordBuffer pw(password);
    EncryptOptions options;
    options.deleteSource = deleteSource;
    options.useGenericExtension = generic;
    const JobOutcome outcome = EncryptFiles(lock, files, pw.bytes, options, ui, random);
    EXPECT_TRUE(pw.Wiped());
    EXPECT_EQ(ui.closed, ui.opened);
    EXPECT_EQ(ui.operation, OPERATION_ENCRYPT);
    ExpectOutcomeMatchesWhatWasShown(outcome);
    return outcome;
  }
  // Every file the run started has its outcome, the first that was not done ended the
  // run, and the outcome says Failed exactly when a failure was shown for it.
  void ExpectOutcomeMatchesWhatWasShown(const JobOutcome& outcome) {
    size_t done = 0;
    while (done < outcome.size() && outcome[done] == FileOutcome::Done) ++done;
    for (size_t i = done + 1; i < outcome.size(); ++i) EXPECT_EQ(outcome[i], FileOutcome::NotStarted) << i;
    const bool failed = done < outcome.size() && outcome[done] == FileOutcome::Failed;
    if (ui.errors.empty()) {
      EXPECT_FALSE(failed);
    } else if (!ui.started.empty()) {
      EXPECT_TRUE(failed);
    }
  }
  void ExpectOneError(const std::string& message, uint32_t code) {
    ASSERT_EQ(ui.errors.size(), 1u);
    EXPECT_EQ(ui.errors[0].message, message);
    EXPECT_EQ(ui.errors[0].code, code);
  }
  // Nothing named like a partial output is left in the folder.
  void ExpectNoPartialFiles() {
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
      EXPECT_EQ(e.path().string().find(kPartialSuffix), std::string::npos) << e.path().string();
  }
};

}  // namespace

using DecryptFilesTest = Fixture;
using EncryptFilesTest = Fixture;

TEST_F(DecryptFilesTest, BesideTheContainerReadOnlyAndContainerKept) {
  const auto plain = RandomBytes(100000, 1);
  const std::string c = Container("보고서.최종.docx.wqv3", plain);
  FileList files = List({c});
  Decrypt(files, "pw");
  EXPECT_TRUE(ui.errors.empty());
  EXPECT_TRUE(files.Empty());
  const std::string out = dir / "보고서.최종.docx";
  EXPECT_EQ(ReadBytes(out), plain);
  EXPECT_TRUE(IsReadOnly(out));
  EXPECT_TRUE(Exists(c));
  ExpectNoPartialFiles();
  ASSERT_EQ(ui.started.size(), 1u);
  EXPECT_EQ(ui.started[0], c);
  // Decrypting again fails at creation: the plaintext there stays as it is.
  FileList again = List({c});
  ui = RecordingUi();
  EXPECT_EQ(Decrypt(again, "pw"), JobOutcome{FileOutcome::Failed});
  ExpectOneError("파일을 생성할 수 없습니다.\r\n" + out, kExists);
  EXPECT_EQ(ReadBytes(out), plain);
}

TEST_F(DecryptFilesTest, IntoTheWorkingFolderWithAKoreanName) {
  const auto plain = RandomBytes(33, 2);
  const std::string c = Container("회의록.hwp.aqv3", plain);
  const std::string out = WorkingFolder() + kPathSeparator + "회의록.hwp";
  RemoveFile(out);
  FileList files = List({c});
  Decrypt(files, "pw", false, true);
  EXPECT_TRUE(ui.errors.empty());
  EXPECT_EQ(ReadBytes(out), plain);
  EXPECT_TRUE(IsReadOnly(out));
  EXPECT_FALSE(Exists(dir / "회의록.hwp"));
  RemoveFile(out);
}

TEST_F(DecryptFilesTest, NamesThatCannotGiveAnOutput) {
  // Working-folder mode needs a separator, and a name longer than the cut.
  FileList files = List({"noseparator.aqv3"});
  Decrypt(files, "pw", false, true);
  ExpectOneError("잘못된 파일명입니다.\r\nnoseparator.aqv3", 0);
  EXPECT_EQ(ui.started.size(), 1u);

  ui = RecordingUi();
  const std::string shortName = dir / "a.aqv";
  FileList wf = List({shortName, dir / "later.aqv3"});
  Decrypt(wf, "pw", false, true);
  ExpectOneError("엉뚱한 파일명입니다.\r\n" + shortName, 0);
  EXPECT_EQ(wf.Count(), 1u);  // the run ended: the next container was never started

  // Beside: an output path under 6 bytes.
  ui = RecordingUi();
  FileList tiny = List({"x.aqv"});
  Decrypt(tiny, "pw");
  ExpectOneError("엉뚱한 파일명입니다.\r\nx.aqv", 0);

  // Longer than the engines' buffers.
  ui = RecordingUi();
  const std::string huge = dir / (std::string(kMaxPathLength, 'n') + ".aqv3");
  FileList longList = List({huge});
  Decrypt(longList, "pw");
  ExpectOneError("잘못된 파일명입니다.\r\n" + huge, 0);
}

TEST_F(DecryptFilesTest, InputsThatCannotBeOpened) {
  const std::string missing = dir / "missing.docx.aqv3";
  FileList a = List({missing});
  Decrypt(a, "pw");
  ExpectOneError("입력 파일이 존재하지 않습니다.\r\n" + missing, kNotFound);

  ui = RecordingUi();
  const std::string folder = dir / "folder.aqv3";
  CreateFolder(folder.c_str());
  FileList b = List({folder});
  Decrypt(b, "pw");
  ASSERT_EQ(ui.errors.size(), 1u);
  EXPECT_EQ(ui.errors[0].message, "디렉터리는 복호화할 수 없습니다.\r\n" + folder);
  EXPECT_NE(ui.errors[0].code, 0u);

  ui = RecordingUi();
  const std::string busy = Container("busy.txt.aqv3", RandomBytes(20, 3));
  FileHandle writer;  // another program writing it, sharing nothing
  ASSERT_EQ(writer.Open(busy.c_str(), FileMode::Write, Disposition::OpenExisting), 0u);
  FileList c = List({busy});
  Decrypt(c, "pw");
  ASSERT_EQ(ui.errors.size(), 1u);
  EXPECT_EQ(ui.errors[0].message, "파일을 읽을 수 없습니다.\r\n" + busy);
  EXPECT_NE(ui.errors[0].code, 0u);
  EXPECT_FALSE(Exists(dir / "busy.txt"));
}

TEST_F(DecryptFilesTest, ReaderMessagesThroughRealFiles) {
  const std::string c = Container("a.txt.aqv3", RandomBytes(40, 4));
  auto bytes = ReadBytes(c);
  struct Case {
    std::vector<uint8_t> content;
    FailureKind failure;
  };
  auto damaged = bytes;
  damaged[damaged.size() - 40] ^= 1;
  auto signature = bytes;
  signature[0] = 'a';
  const Case cases[] = {
      {std::vector<uint8_t>(bytes.begin(), bytes.begin() + 52), FailureKind::TooSmall},
      {signature, FailureKind::BadSignature},
      {std::vector<uint8_t>(bytes.begin(), bytes.end() - 1), FailureKind::BadCipherLength},
      {damaged, FailureKind::BulkMac},
  };
  for (const Case& k : cases) {
    ui = RecordingUi();
    WriteBytes(c, k.content);
    FileList files = List({c});
    Decrypt(files, "pw");
    ExpectOneError(FailureText({k.failure, 0, c}), 0);
    EXPECT_FALSE(Exists(dir / "a.txt"));
    ExpectNoPartialFiles();
  }
  ui = RecordingUi();
  WriteBytes(c, bytes);
  FileList files = List({c});
  Decrypt(files, "wrong");
  ExpectOneError(FailureText({FailureKind::KeyBlockMac, 0, c}), 0);
}

TEST_F(DecryptFilesTest, AnExistingOutputSurvivesEveryKindOfFailure) {
  const std::vector<uint8_t> precious = {'m', 'i', 'n', 'e'};
  const std::string out = dir / "report.docx";
  auto check = [&](const char* what) {
    EXPECT_EQ(ReadBytes(out), precious) << what;
    ExpectNoPartialFiles();
  };
  WriteBytes(out, precious);
  const std::string c = Container("report.docx.wqv3", RandomBytes(3 << 20, 5));

  // Asked to replace it, so that each run gets as far as its failure.
  const bool overwrite = true;
  FileList wrong = List({c});
  Decrypt(wrong, "wrong password", false, false, overwrite);
  EXPECT_EQ(ui.errors.size(), 1u);
  check("wrong password");

  // Damaged data: found only after every block was written.
  auto bytes = ReadBytes(c);
  bytes[bytes.size() - 100] ^= 1;
  const std::string damaged = dir / "report.docx.aqv3";
  WriteBytes(damaged, bytes);
  ui = RecordingUi();
  FileList d = List({damaged});
  Decrypt(d, "pw", false, false, overwrite);
  ExpectOneError(FailureText({FailureKind::BulkMac, 0, damaged}), 0);
  check("damaged");

  // Version 0 with a wrong password: the whole file is decrypted before the MAC says no.
  const std::string v0 = Container("report.docx.zqv3", RandomBytes(50000, 6), "pw", 0);
  ui = RecordingUi();
  FileList z = List({v0});
  Decrypt(z, "nope", false, false, overwrite);
  ExpectOneError(FailureText({FailureKind::BulkMacV0, 0, v0}), 0);
  check("version 0");

  ui = RecordingUi();
  ui.cancelFile = 1;
  ui.cancelPercent = 30;
  FileList cancelled = List({c});
  Decrypt(cancelled, "pw", false, false, overwrite);
  EXPECT_TRUE(ui.errors.empty());
  check("cancel");

  // A good container is refused at the creation step unless replacing was asked for.
  ui = RecordingUi();
  FileList good = List({c});
  Decrypt(good, "pw");
  ExpectOneError("파일을 생성할 수 없습니다.\r\n" + out, kExists);
  check("not asked to replace");

  // Asked: replaced, a read-only file too, only once the container has authenticated.
  SetReadOnly(out.c_str(), true);
  ui = RecordingUi();
  FileList wrongAgain = List({c});
  Decrypt(wrongAgain, "wrong password", false, false, overwrite);
  check("overwrite, wrong password");
  ui = RecordingUi();
  FileList replace = List({c});
  EXPECT_EQ(Decrypt(replace, "pw", false, false, overwrite), JobOutcome{FileOutcome::Done});
  EXPECT_TRUE(ui.errors.empty());
  EXPECT_EQ(ReadBytes(out).size(), size_t{3} << 20);
  EXPECT_TRUE(IsReadOnly(out));
}

TEST_F(DecryptFilesTest, TheWorkingFolderReplacesWhatNoRunShowsButNotAReadOnlyPlaintext) {
  const std::string c = Container("shown.txt.aqv3", RandomBytes(70, 40));
  const std::string out = WorkingFolder() + kPathSeparator + "shown.txt";
  CreateFolder(WorkingFolder().c_str());
  RemoveFile(out);
  WriteBytes(out, {'o', 'l', 'd'});
  FileList first = List({c});
  EXPECT_EQ(Decrypt(first, "pw", false, true), JobOutcome{FileOutcome::Done});
  EXPECT_EQ(ReadBytes(out).size(), 70u);
  // Read-only now, as a running viewer's plaintext is: the next run may not replace it.
  ui = RecordingUi();
  FileList second = List({c});
  EXPECT_EQ(Decrypt(second, "pw", false, true), JobOutcome{FileOutcome::Failed});
  ExpectOneError("파일을 생성할 수 없습니다.\r\n" + out, kDenied);
  RemoveFile(out);
}

// An extension section far longer than any writer makes (300 of 65,535 bytes) is read in
// pieces: the bar moves while it is read, and Cancel stops it there, nothing written.
TEST_F(DecryptFilesTest, ALongExtensionSectionShowsProgressAndTakesCancel) {
  ContainerRecipe recipe;
  recipe.password = "pw";
  recipe.plaintext = RandomBytes(100, 3);
  recipe.extensions.assign(300, std::vector<uint8_t>(65535, 7));
  const std::string path = dir / "many.bin.aqv3";
  WriteBytes(path, BuildContainer(recipe));
  ui.cancelFile = 1;
  ui.cancelPercent = 20;
  FileList files = List({path});
  EXPECT_EQ(Decrypt(files, "pw"), JobOutcome{FileOutcome::Cancelled});
  EXPECT_TRUE(ui.errors.empty());
  EXPECT_FALSE(Exists(dir / "many.bin"));
  ASSERT_EQ(ui.percents.size(), 1u);
  ASSERT_FALSE(ui.percents[0].empty());
  EXPECT_GE(ui.percents[0].back(), 20u);
  EXPECT_LT(ui.percents[0].back(), 50u) << "stopped while the extensions were read, not after them";
}

TEST_F(DecryptFilesTest, ThreeContainersCancelDuringTheSecond) {
  const auto p1 = RandomBytes(1000, 7), p2 = RandomBytes(5 << 20, 8), p3 = RandomBytes(1000, 9);
  FileList files = List({Container("one.bin.aqv3", p1), Container("two.bin.aqv3", p2), Container("three.bin.aqv3", p3)});
  ui.cancelFile = 2;
  ui.cancelPercent = 20;
  EXPECT_EQ(Decrypt(files, "pw"),
            (JobOutcome{FileOutcome::Done, FileOutcome::Cancelled, FileOutcome::NotStarted}));
  EXPECT_TRUE(ui.errors.empty());
  EXPECT_EQ(ReadBytes(dir / "one.bin"), p1);
  EXPECT_FALSE(Exists(dir / "two.bin"));
  EXPECT_FALSE(Exists(dir / "three.bin"));
  EXPECT_EQ(ui.started.size(), 2u);
  ASSERT_EQ(files.Count(), 1u);  // the third was never started
  EXPECT_EQ(files.Front(), dir / "three.bin.aqv3");
  ExpectNoPartialFiles();
}

TEST_F(DecryptFilesTest, ThreeContainersWrongPasswordOnTheSecond) {
  const auto p1 = RandomBytes(1000, 10);
  const std::string second = Container("two.bin.aqv3", RandomBytes(10, 11), "other");
  FileList files = List({Container("one.bin.aqv3", p1), second, Container("three.bin.aqv3", RandomBytes(5, 12))});
  EXPECT_EQ(Decrypt(files, "pw"), (JobOutcome{FileOutcome::Done, FileOutcome::Failed, FileOutcome::NotStarted}));
  ExpectOneError(FailureText({FailureKind::KeyBlockMac, 0, second}), 0);
  EXPECT_EQ(ReadBytes(dir / "one.bin"), p1);
  EXPECT_FALSE(Exists(dir / "two.bin"));
  EXPECT_FALSE(Exists(dir / "three.bin"));
  EXPECT_EQ(files.Count(), 1u);
}

TEST_F(DecryptFilesTest, ProgressRestartsAtZeroPerFileAndNeverPassesOneHundred) {
  FileList files = List({Container("a.bin.aqv3", RandomBytes(4 << 20, 13)), Container("b.bin.aqv3", RandomBytes(6 << 20, 14)),
                         Container("c.bin.aqv3", {})});
  Decrypt(files, "pw");
  EXPECT_TRUE(ui.errors.empty());
  ASSERT_EQ(ui.percents.size(), 3u);
  for (size_t f = 0; f < 2; ++f) {
    const auto& p = ui.percents[f];
    ASSERT_FALSE(p.empty());
    EXPECT_LT(p.front(), 50u) << "file " << f << " starts over";
    EXPECT_EQ(p.back(), 100u);
    for (size_t i = 0; i < p.size(); ++i) {
      EXPECT_LE(p[i], 100u);
      if (i) {
        EXPECT_GE(p[i], p[i - 1]);
      }
    }
  }
  EXPECT_TRUE(ui.percents[2].empty());  // no data, no progress step
}

TEST_F(DecryptFilesTest, DeleteSourceRemovesAReadOnlyContainerOnlyAfterSuccess) {
  const std::string good = Container("g.txt.aqv3", RandomBytes(64, 15));
  SetReadOnly(good.c_str(), true);
  FileList files = List({good});
  Decrypt(files, "pw", true);
  EXPECT_TRUE(ui.errors.empty());
  EXPECT_FALSE(Exists(good));
  EXPECT_TRUE(Exists(dir / "g.txt"));

  const std::string bad = Container("b.txt.aqv3", RandomBytes(64, 16));
  SetReadOnly(bad.c_str(), true);
  ui = RecordingUi();
  FileList failing = List({bad});
  Decrypt(failing, "wrong", true);
  EXPECT_EQ(ui.errors.size(), 1u);
  EXPECT_TRUE(Exists(bad));
}

TEST_F(DecryptFilesTest, AnEmptyListOpensAndClosesTheViewAndWipesThePassword) {
  FileList files;
  Decrypt(files, "secret");
  EXPECT_TRUE(ui.errors.empty());
  EXPECT_TRUE(ui.started.empty());
}

TEST_F(DecryptFilesTest, VersionsZeroAndOneAndEmptyPlaintexts) {
  const auto p0 = RandomBytes(17, 17), p1 = RandomBytes(32, 18);
  FileList files = List({Container("v0.bin.aqv3", p0, "pw", 0), Container("v1.bin.aqv3", p1, "pw", 1),
                         Container("empty.bin.aqv3", {}, "pw", 2)});
  Decrypt(files, "pw");
  EXPECT_TRUE(ui.errors.empty());
  EXPECT_EQ(ReadBytes(dir / "v0.bin"), p0);
  EXPECT_EQ(ReadBytes(dir / "v1.bin"), p1);
  EXPECT_TRUE(Exists(dir / "empty.bin"));
  EXPECT_TRUE(ReadBytes(dir / "empty.bin").empty());
}

// ---------------------------------------------------------------------------------------

TEST_F(EncryptFilesTest, RoundTripsNamesAndSizes) {
  const std::vector<size_t> sizes = {0, 16, 17, 1000, (1 << 20) + 3};
  FileList files;
  std::vector<std::vector<uint8_t>> plains;
  for (size_t i = 0; i < sizes.size(); ++i) {
    plains.push_back(RandomBytes(sizes[i], static_cast<uint32_t>(20 + i)));
    const std::string p = dir / ("문서" + std::to_string(i) + ".docx");
    WriteBytes(p, plains.back());
    files.Append(p);
  }
  Encrypt(files, "pw", false, true);
  EXPECT_TRUE(ui.errors.empty());
  FileList back;
  for (size_t i = 0; i < sizes.size(); ++i) {
    const std::string p = dir / ("문서" + std::to_string(i) + ".docx");
    const std::string c = p + ".aqv3";
    EXPECT_EQ(ReadBytes(c).size(), 294 + (sizes[i] + 15) / 16 * 16);
    EXPECT_FALSE(IsReadOnly(c));  // the container keeps ordinary attributes
    RemoveFile(p);
    back.Append(c);
  }
  EXPECT_EQ(ReadBytes(dir / "문서2.docx.aqv3")[326 - 33], 1);
  ui = RecordingUi();
  Decrypt(back, "pw");
  EXPECT_TRUE(ui.errors.empty());
  for (size_t i = 0; i < sizes.size(); ++i)
    EXPECT_EQ(ReadBytes(dir / ("문서" + std::to_string(i) + ".docx")), plains[i]) << i;
}

TEST_F(EncryptFilesTest, CategoryNamesWithoutAPasswordAndFreshKeysEachTime) {
  const std::string p = dir / "report.docx";
  WriteBytes(p, RandomBytes(64, 30));
  FileList files = List({p});
  Encrypt(files, "", false, false);
  EXPECT_TRUE(ui.errors.empty());
  const auto first = ReadBytes(p + ".wqv3");
  ASSERT_EQ(first.size(), 294u + 64u);
  FileList again = List({p});
  ui = RecordingUi();
  Encrypt(again, "", false, true);
  const auto second = ReadBytes(p + ".aqv3");
  ASSERT_EQ(second.size(), first.size());
  EXPECT_TRUE(std::equal(first.begin(), first.begin() + 165, second.begin()));
  for (size_t at = 165; at + 16 <= first.size(); at += 16)
    EXPECT_NE(0, std::memcmp(&first[at], &second[at], 16)) << at;
  EXPECT_EQ(DecryptInMemory(first, ""), ReadBytes(p));
}

TEST_F(EncryptFilesTest, AnExistingContainerIsNeverReplaced) {
  const std::string p = dir / "a.pdf";
  WriteBytes(p, RandomBytes(100, 31));
  FileList files = List({p});
  Encrypt(files, "pw");
  const auto container = ReadBytes(p + ".aqv3");
  ui = RecordingUi();
  FileList again = List({p, dir / "never.txt"});
  Encrypt(again, "pw");
  ExpectOneError("출력 파일을 열 수 없습니다.\r\n" + p + ".aqv3", kExists);
  EXPECT_EQ(ReadBytes(p + ".aqv3"), container);
  EXPECT_EQ(again.Count(), 1u);
}

// The desktop's road: every file is tried, a taken name gets the next free number, and
// nothing there is replaced.
TEST_F(EncryptFilesTest, TakenNamesNumberedAndFailuresPassedOver) {
  const std::string a = dir / "a.pdf", b = dir / "보고서.hwp", missing = dir / "missing.txt";
  WriteBytes(a, RandomBytes(100, 41));
  WriteBytes(b, RandomBytes(70000, 42));
  const std::vector<uint8_t> theirs = {7, 7, 7};
  WriteBytes(a + ".aqv3", theirs);
  WriteBytes(dir / "보고서.hwp.aqv3", theirs);
  CreateFolder((dir / "보고서 (2).hwp.aqv3").c_str());
  FileList files = List({a, missing, b});
  EncryptOptions options;
  options.useGenericExtension = true;
  options.continuePastFailures = true;
  options.numberTakenNames = true;
  PasswordBuffer pw("pw");
  const JobOutcome outcome = EncryptFiles(lock, files, pw.bytes, options, ui);
  EXPECT_EQ(outcome, (JobOutcome{FileOutcome::Done, FileOutcome::Failed, FileOutcome::Done}));
  ExpectOneError("입력 파일이 존재하지 않습니다.\r\n" + missing, kNotFound);
  EXPECT_EQ(ReadBytes(a + ".aqv3"), theirs);
  EXPECT_EQ(ReadBytes(dir / "보고서.hwp.aqv3"), theirs);
  EXPECT_EQ(DecryptInMemory(ReadBytes(dir / "a (2).pdf.aqv3"), "pw"), ReadBytes(a));
  EXPECT_EQ(DecryptInMemory(ReadBytes(dir / "보고서 (3).hwp.aqv3"), "pw"), ReadBytes(b));
  EXPECT_TRUE(Exists(a) && Exists(b)) << "a source was removed";
}

TEST_F(EncryptFilesTest, InputsThatCannotBeOpened) {
  const std::string missing = dir / "missing.txt";
  FileList a = List({missing});
  Encrypt(a, "pw");
  ExpectOneError("입력 파일이 존재하지 않습니다.\r\n" + missing, kNotFound);

  ui = RecordingUi();
  const std::string folder = dir / "folder";
  CreateFolder(folder.c_str());
  FileList b = List({folder});
  Encrypt(b, "pw");
  ASSERT_EQ(ui.errors.size(), 1u);
  EXPECT_EQ(ui.errors[0].message, "디렉터리는 암호화할 수 없습니다.\r\n" + folder);

  ui = RecordingUi();
  const std::string busy = dir / "busy.txt";
  WriteBytes(busy, {1, 2, 3});
  FileHandle writer;
  ASSERT_EQ(writer.Open(busy.c_str(), FileMode::Write, Disposition::OpenExisting), 0u);
  FileList c = List({busy});
  Encrypt(c, "pw");
  ASSERT_EQ(ui.errors.size(), 1u);
  EXPECT_EQ(ui.errors[0].message, "파일을 열 수 없습니다.\r\n" + busy);
  EXPECT_FALSE(Exists(busy + ".aqv3"));
}

namespace {
class FakeRandom : public RandomSource {
 public:
  bool acquireOk = true;
  int fillsBeforeFailure = -1;  // -1: never fails
  int acquired = 0, released = 0;
  bool Acquire() override {
    ++acquired;
    return acquireOk;
  }
  bool Fill32(uint8_t out[32]) override {
    if (fillsBeforeFailure == 0) return false;
    if (fillsBeforeFailure > 0) --fillsBeforeFailure;
    for (int i = 0; i < 32; ++i) out[i] = static_cast<uint8_t>(m_counter++);
    return true;
  }
  void Release() override { ++released; }

 private:
  unsigned m_counter = 0;
};
}  // namespace

TEST_F(EncryptFilesTest, RandomSourceFailuresAndItsReleaseOnEveryPath) {
  const std::string p = dir / "x.txt";
  WriteBytes(p, RandomBytes(10, 32));

  FakeRandom unavailable;
  unavailable.acquireOk = false;
  FileList a = List({p});
  Encrypt(a, "pw", false, true, &unavailable);
  ExpectOneError("암호화 모듈을 사용할 수 없습니다.", 0);
  EXPECT_TRUE(ui.started.empty());
  EXPECT_EQ(a.Count(), 1u);
  EXPECT_EQ(unavailable.released, 1);

  for (int fills : {0, 300, 800}) {  // the bulk IV, the bulk key, then the file IV
    FakeRandom failing;
    failing.fillsBeforeFailure = fills;
    ui = RecordingUi();
    FileList b = List({p, dir / "never.txt"});
    Encrypt(b, "pw", false, true, &failing);
    ExpectOneError("난수를 생성할 수 없습니다.", 0);
    EXPECT_FALSE(Exists(p + ".aqv3")) << fills;
    EXPECT_EQ(failing.released, 1);
    EXPECT_EQ(b.Count(), 1u);
  }
}

TEST_F(EncryptFilesTest, CancelDuringTheSecondOfThreeAndDeleteSource) {
  const auto p1 = RandomBytes(100, 33), p2 = RandomBytes(5 << 20, 34);
  WriteBytes(dir / "1.bin", p1);
  WriteBytes(dir / "2.bin", p2);
  WriteBytes(dir / "3.bin", {1});
  SetReadOnly((dir / "1.bin").c_str(), true);
  FileList files = List({dir / "1.bin", dir / "2.bin", dir / "3.bin"});
  ui.cancelFile = 2;
  ui.cancelPercent = 20;
  EXPECT_EQ(Encrypt(files, "pw", true),
            (JobOutcome{FileOutcome::Done, FileOutcome::Cancelled, FileOutcome::NotStarted}));
  EXPECT_TRUE(ui.errors.empty());
  EXPECT_FALSE(Exists(dir / "1.bin"));  // deleted after success, read-only or not
  EXPECT_TRUE(Exists(dir / "1.bin.aqv3"));
  EXPECT_EQ(ReadBytes(dir / "2.bin"), p2);  // a failure never changes the source
  EXPECT_FALSE(Exists(dir / "2.bin.aqv3"));
  EXPECT_FALSE(Exists(dir / "3.bin.aqv3"));
  EXPECT_EQ(files.Count(), 1u);
  EXPECT_EQ(ui.started.size(), 2u);
}

// ---------------------------------------------------------------------------------------

// Someone else's file, folder or link at an output's temporary name: the engines write
// nothing through it and change nothing of it, and the output still arrives.
TEST_F(Fixture, NothingIsWrittenThroughWhatOthersPutAtTheTemporaryName) {
  enum class Planted { File, LinkToVictim, DanglingLink, Folder };
  enum class Road { DecryptBeside, DecryptIntoWorkingFolder, Encrypt };
  const std::vector<uint8_t> victimBytes = {'v', 'i', 'c', 't', 'i', 'm'};
  const auto plain = RandomBytes(3000, 41);
  int planted = 0;
  for (Road road : {Road::DecryptBeside, Road::DecryptIntoWorkingFolder, Road::Encrypt}) {
    for (Planted kind : {Planted::File, Planted::LinkToVictim, Planted::DanglingLink, Planted::Folder}) {
      const std::string tag = std::to_string(static_cast<int>(road)) + std::to_string(static_cast<int>(kind));
      SCOPED_TRACE(tag);
      const std::string victim = dir / ("victim" + tag);
      WriteBytes(victim, victimBytes);
      std::string source, output;
      if (road == Road::Encrypt) {
        source = dir / ("plain" + tag + ".txt");
        WriteBytes(source, plain);
        output = source + ".aqv3";
      } else {
        source = Container("doc" + tag + ".txt.aqv3", plain);
        output = road == Road::DecryptBeside ? dir / ("doc" + tag + ".txt")
                                             : WorkingFolder() + kPathSeparator + "doc" + tag + ".txt";
        CreateFolder(WorkingFolder().c_str());
      }
      const std::string temporary = PartialPath(output, 1);
      std::error_code error;
      switch (kind) {
        case Planted::File: WriteBytes(temporary, {'t', 'h', 'e', 'i', 'r', 's'}); break;
        case Planted::LinkToVictim: std::filesystem::create_symlink(victim, temporary, error); break;
        case Planted::DanglingLink: std::filesystem::create_symlink(victim + ".none", temporary, error); break;
        case Planted::Folder: CreateFolder(temporary.c_str()); break;
      }
      if (error) continue;  // a system whose links this user cannot make
      ++planted;
      ui = RecordingUi();
      FileList files = List({source});
      const JobOutcome outcome = road == Road::Encrypt ? Encrypt(files, "pw")
                                                       : Decrypt(files, "pw", false, road == Road::DecryptIntoWorkingFolder);
      EXPECT_EQ(outcome, JobOutcome{FileOutcome::Done});
      EXPECT_TRUE(ui.errors.empty());
      EXPECT_EQ(ReadBytes(victim), victimBytes);
      EXPECT_FALSE(Exists(victim + ".none"));
      EXPECT_FALSE(Exists(PartialPath(output, 2)));  // the fresh name was put in place
      // A plain file of this user's that no writer holds is what a dead run left: it goes.
      EXPECT_EQ(NameTaken(temporary.c_str()), kind != Planted::File);
      EXPECT_EQ(road == Road::Encrypt ? DecryptInMemory(ReadBytes(output), "pw") : ReadBytes(output), plain);
      std::filesystem::remove_all(temporary, error);
      RemoveFile(output);
    }
  }
  EXPECT_GE(planted, 6);  // files and folders everywhere
}

// A file a folder walk found is worked on only while its name still leads to the file
// listed: another file, a link or a FIFO put there since is left alone (the FIFO never
// waited on), nothing is written, and the walk's own files still work; named files are
// opened as they always were.
TEST_F(Fixture, AFileFoundInAFolderIsWorkedOnOnlyWhileItIsTheFileListed) {
  enum class Put { Nothing, AnotherFile, LinkToVictim, Fifo };
  const std::string victim = dir / "victim.txt";
  WriteBytes(victim, {'v'});
  int tried = 0;
  for (bool encrypt : {true, false}) {
    for (Put put : {Put::Nothing, Put::AnotherFile, Put::LinkToVictim, Put::Fifo}) {
      const std::string tag = std::to_string(encrypt) + std::to_string(static_cast<int>(put));
      SCOPED_TRACE(tag);
      ListedFile listed;
      listed.origin = ListedFile::Origin::Found;
      listed.path = encrypt ? dir / ("f" + tag + ".txt") : Container("f" + tag + ".txt.aqv3", {'p'});
      if (encrypt) WriteBytes(listed.path, {'p'});
      ASSERT_TRUE(IdentityOf(listed.path.c_str(), &listed.identity));
      const std::string output = encrypt ? listed.path + ".aqv3" : listed.path.substr(0, listed.path.size() - 5);
      // The file listed is kept under another name, so that nothing put there can have
      // its identity.
      const std::string kept = listed.path + ".kept";
      std::error_code error;
      std::filesystem::rename(listed.path, kept, error);
      ASSERT_FALSE(error);
      switch (put) {
        case Put::Nothing: std::filesystem::rename(kept, listed.path, error); break;
        case Put::AnotherFile: WriteBytes(listed.path, {'o'}); break;
        case Put::LinkToVictim: std::filesystem::create_symlink(victim, listed.path, error); break;
#ifdef _WIN32
        case Put::Fifo: continue;
#else
        case Put::Fifo: ASSERT_EQ(mkfifo(listed.path.c_str(), 0600), 0); break;
#endif
      }
      if (error) continue;  // a system whose links this user cannot make
      ++tried;
      ui = RecordingUi();
      FileList files;
      files.Append(listed);
      const JobOutcome outcome = encrypt ? Encrypt(files, "pw") : Decrypt(files, "pw");
      if (put == Put::Nothing) {
        EXPECT_EQ(outcome, JobOutcome{FileOutcome::Done});
        EXPECT_TRUE(Exists(output));
      } else {
        EXPECT_EQ(outcome, JobOutcome{FileOutcome::Failed});
        ASSERT_EQ(ui.errors.size(), 1u);
        EXPECT_EQ(ui.errors[0].message, FailureText({FailureKind::ChangedSinceFound, 0, listed.path}));
        EXPECT_FALSE(Exists(output));
        EXPECT_FALSE(Exists(PartialPath(output, 1)));
      }
      EXPECT_EQ(ReadBytes(victim), std::vector<uint8_t>{'v'});
      std::filesystem::remove(listed.path, error);
      std::filesystem::remove(kept, error);
      if (Exists(output)) RemoveFile(output);
    }
  }
  EXPECT_GE(tried, 4);
}
