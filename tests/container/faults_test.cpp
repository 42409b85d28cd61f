// Faults injected through the file layer's seam: each gives its message with its code,
// deletes the partial output (the temporary file included), leaves the sources and any
// pre-existing output untouched, and stops the run at that file.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "container/engines.h"
#include "container/format.h"
#include "platform/file_handle.h"
#include "platform/lock.h"
#include "platform/system_error.h"
#include "tests/container/container_builder.h"
#include "tests/engine_fixture.h"

using namespace testutil;

namespace {

constexpr uint32_t kCode = 1117;  // ERROR_IO_DEVICE on Windows; any number will do

// Fails the nth call of one operation in one mode, counted from the moment the given
// number of opens in the given mode have happened.
class Plan : public FileFaults {
 public:
  Plan(Operation op, FileMode mode, int nth, int afterOpens, FileMode openMode, bool sticky = false)
      : m_op(op), m_mode(mode), m_nth(nth), m_afterOpens(afterOpens), m_openMode(openMode), m_sticky(sticky) {
    m_previous = InstallFileFaults(this);
  }
  ~Plan() override { InstallFileFaults(m_previous); }
  uint32_t Before(Operation op, FileMode mode) override {
    if (op == Open && mode == m_openMode) ++m_opens;
    if (m_opens < m_afterOpens || op != m_op || mode != m_mode) return 0;
    ++m_seen;
    if (m_seen == m_nth || (m_sticky && m_seen > m_nth)) {
      ++fired;
      return kCode;
    }
    return 0;
  }
  int fired = 0;

 private:
  Operation m_op;
  FileMode m_mode;
  int m_nth, m_afterOpens;
  FileMode m_openMode;
  bool m_sticky;
  int m_opens = 0, m_seen = 0;
  FileFaults* m_previous;
};

// Containers named "aqv3", as a run with a password names them.
EncryptOptions GenericNames(bool deleteSource) {
  EncryptOptions options;
  options.deleteSource = deleteSource;
  options.useGenericExtension = true;
  return options;
}

struct FaultsTest : testing::Test {
  TempDir dir;
  Lock lock;
  RecordingUi ui;
  std::vector<uint8_t> p1 = RandomBytes(1000, 1), p2 = RandomBytes(3 << 20, 2), p3 = RandomBytes(10, 3);
  const std::vector<uint8_t> precious = {'k', 'e', 'e', 'p'};

  void SetUp() override {
    for (auto [name, plain] : {std::pair{"one.bin", &p1}, {"two.bin", &p2}, {"three.bin", &p3}}) {
      ContainerRecipe recipe;
      recipe.password = "pw";
      recipe.plaintext = *plain;
      WriteBytes(dir / (std::string(name) + ".aqv3"), BuildContainer(recipe));
      WriteBytes(dir / name, *plain);  // for encryption
    }
    WriteBytes(dir / "two.bin.out", precious);
  }
  FileList Containers() {
    FileList l;
    for (const char* n : {"one.bin.aqv3", "two.bin.aqv3", "three.bin.aqv3"}) l.Append(dir / n);
    return l;
  }
  void RunDecrypt(FileList& files) {
    // The second plaintext goes to a name where a file already is, which it may replace
    // once (and only once) it has authenticated.
    char password[257] = "pw";
    DecryptOptions options;
    options.overwrite = true;
    DecryptFiles(lock, files, password, options, ui);
  }
  void ExpectDecryptStoppedAtTheSecond(const FileList& files, const std::string& message) {
    ASSERT_EQ(ui.errors.size(), 1u);
    EXPECT_EQ(ui.errors[0].message, message);
    EXPECT_EQ(ui.errors[0].code, kCode);
    EXPECT_EQ(ReadBytes(dir / "one.bin"), p1);  // done before the fault
    EXPECT_EQ(ReadBytes(dir / "two.bin"), p2);  // the pre-existing file at the output path
    EXPECT_FALSE(Exists(dir / "three.bin.out"));
    EXPECT_EQ(files.Count(), 1u);
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
      EXPECT_EQ(e.path().string().find(kPartialSuffix), std::string::npos) << e.path().string();
  }
};

}  // namespace

// Here the second container's output path already holds a file ("two.bin", the plaintext
// kept for the encryption cases): it must come through every fault unchanged.
TEST_F(FaultsTest, DecryptReadFailureInTheMiddleOfAContainer) {
  FileList files = Containers();
  RemoveFile(dir / "one.bin");
  // Reads of the second container: head, 3 extension lengths and 2 contents, file IV, key
  // block, its MAC, then 1 MiB pieces: the 11th is the second piece.
  Plan plan(FileFaults::Read, FileMode::Read, 11, 2, FileMode::Read);
  RunDecrypt(files);
  EXPECT_EQ(plan.fired, 1);
  ExpectDecryptStoppedAtTheSecond(files, "파일을 읽을 수 없습니다.\r\n" + (dir / "two.bin.aqv3"));
}

TEST_F(FaultsTest, DecryptSizeUnreadable) {
  FileList files = Containers();
  RemoveFile(dir / "one.bin");
  Plan plan(FileFaults::GetSize, FileMode::Read, 1, 2, FileMode::Read);
  RunDecrypt(files);
  ExpectDecryptStoppedAtTheSecond(files, "다음 파일의 크기를 가늠할 수 없습니다.\r\n" + (dir / "two.bin.aqv3"));
}

TEST_F(FaultsTest, DecryptDiskFullInTheMiddleOfThePlaintext) {
  FileList files = Containers();
  RemoveFile(dir / "one.bin");
  // Write-mode opens: the first plaintext's temporary file, then the second's.
  Plan plan(FileFaults::Write, FileMode::Write, 2, 2, FileMode::Write);
  RunDecrypt(files);
  EXPECT_EQ(plan.fired, 1);
  ExpectDecryptStoppedAtTheSecond(files, "다음 파일을 쓸 수 없습니다.\r\n" + (dir / "two.bin"));
}

TEST_F(FaultsTest, DecryptFlushFailure) {
  FileList files = Containers();
  RemoveFile(dir / "one.bin");
  Plan plan(FileFaults::Flush, FileMode::Write, 1, 2, FileMode::Write, true);
  RunDecrypt(files);
  ExpectDecryptStoppedAtTheSecond(files, "파일을 쓸 수 없습니다.\r\n" + (dir / "two.bin"));
}

TEST_F(FaultsTest, DecryptCreateFailure) {
  FileList files = Containers();
  RemoveFile(dir / "one.bin");
  Plan plan(FileFaults::Open, FileMode::Write, 2, 0, FileMode::Write);
  RunDecrypt(files);
  ExpectDecryptStoppedAtTheSecond(files, "파일을 생성할 수 없습니다.\r\n" + (dir / "two.bin"));
}

namespace {
struct EncryptCase {
  FileFaults::Operation op;
  FileMode mode;
  int nth;
  int afterOpens;
  FileMode openMode;
  bool sticky;
  std::string (*message)(const TempDir&);
};
}  // namespace

TEST_F(FaultsTest, EncryptFaultsEachWithItsMessage) {
  const EncryptCase cases[] = {
      // Reading the second plaintext in the middle.
      {FileFaults::Read, FileMode::Read, 2, 2, FileMode::Read, false,
       [](const TempDir& d) { return "파일을 읽을 수 없습니다.\r\n" + (d / "two.bin"); }},
      {FileFaults::GetSize, FileMode::Read, 1, 2, FileMode::Read, false,
       [](const TempDir& d) { return "다음 파일의 크기를 가늠할 수 없습니다.\r\n" + (d / "two.bin"); }},
      // The second container's writes: head, key block, key block MAC, then data.
      {FileFaults::Write, FileMode::Write, 2, 2, FileMode::Write, false,
       [](const TempDir& d) { return "파일을 쓸 수 없습니다.\n" + (d / "two.bin.aqv3"); }},
      {FileFaults::Write, FileMode::Write, 6, 2, FileMode::Write, false,
       [](const TempDir& d) { return "파일을 쓸 수 없습니다.\r\n" + (d / "two.bin.aqv3"); }},
      {FileFaults::Flush, FileMode::Write, 1, 2, FileMode::Write, true,
       [](const TempDir& d) { return "파일을 쓸 수 없습니다.\r\n" + (d / "two.bin.aqv3"); }},
      {FileFaults::Open, FileMode::Write, 2, 0, FileMode::Write, false,
       [](const TempDir& d) { return "출력 파일을 열 수 없습니다.\r\n" + (d / "two.bin.aqv3"); }},
  };
  for (const EncryptCase& c : cases) {
    ui = RecordingUi();
    for (const char* n : {"one.bin.aqv3", "two.bin.aqv3", "three.bin.aqv3"}) RemoveFile(dir / n);
    FileList files;
    for (const char* n : {"one.bin", "two.bin", "three.bin"}) files.Append(dir / n);
    {
      Plan plan(c.op, c.mode, c.nth, c.afterOpens, c.openMode, c.sticky);
      char password[257] = "pw";
      EncryptFiles(lock, files, password, GenericNames(true), ui);
      EXPECT_GE(plan.fired, 1);
    }
    const std::string expected = c.message(dir);
    ASSERT_EQ(ui.errors.size(), 1u) << expected;
    EXPECT_EQ(ui.errors[0].message, expected);
    EXPECT_EQ(ui.errors[0].code, kCode) << expected;
    EXPECT_TRUE(Exists(dir / "one.bin.aqv3"));
    EXPECT_FALSE(Exists(dir / "one.bin"));  // deleteSource after its success
    EXPECT_EQ(ReadBytes(dir / "two.bin"), p2) << expected;  // never changed by a failure
    EXPECT_FALSE(Exists(dir / "two.bin.aqv3")) << expected;
    EXPECT_FALSE(Exists(dir / "three.bin.aqv3"));
    EXPECT_TRUE(Exists(dir / "three.bin"));
    EXPECT_EQ(files.Count(), 1u);
    WriteBytes(dir / "one.bin", p1);
  }
}

// The second thread reads the plaintext ahead and writes the container behind, so a read
// can fail before a write of earlier data has: the write, which a plain loop would have
// made first, is the failure reported. The write that fails is the last one of the first
// MiB's data (counted on a container of exactly 1 MiB: all its writes but the trailer);
// every read after that first MiB fails too.
TEST_F(FaultsTest, EncryptReportsAWriteFailureBeforeALaterReadFailure) {
  struct Faults : FileFaults {
    int failWrite = 0;  // 0: count only
    int opens = 0, writes = 0, reads = 0;
    uint32_t Before(Operation op, FileMode mode) override {
      if (op == Open) ++opens;
      if (opens < 2) return 0;  // the source, then the container
      if (op == Write && mode == FileMode::Write && ++writes == failWrite) return kCode;
      if (op == Read && mode == FileMode::Read && ++reads >= 2 && failWrite) return kCode + 1;
      return 0;
    }
  };
  char password[257] = "pw";
  Faults count;
  WriteBytes(dir / "mib.bin", RandomBytes(1 << 20, 4));
  FileList one;
  one.Append(dir / "mib.bin");
  FileFaults* previous = InstallFileFaults(&count);
  EncryptFiles(lock, one, password, GenericNames(false), ui);
  InstallFileFaults(previous);
  ASSERT_TRUE(ui.errors.empty());
  ASSERT_GE(count.writes, 5);  // head, key block, its MAC, data, trailer

  Faults faults;
  faults.failWrite = count.writes - 1;
  RemoveFile(dir / "two.bin.aqv3");
  FileList files;
  files.Append(dir / "two.bin");
  previous = InstallFileFaults(&faults);
  std::strcpy(password, "pw");
  EncryptFiles(lock, files, password, GenericNames(false), ui);
  InstallFileFaults(previous);
  ASSERT_EQ(ui.errors.size(), 1u);
  EXPECT_EQ(ui.errors[0].message, "파일을 쓸 수 없습니다.\r\n" + (dir / "two.bin.aqv3"));
  EXPECT_EQ(ui.errors[0].code, kCode);
  EXPECT_FALSE(Exists(dir / "two.bin.aqv3"));
}

#ifndef _WIN32
// A source whose size changes after it was measured (Windows' sharing mode keeps other
// writers out; here nothing does): one that shrinks fails with the end-of-file code once
// the reads run dry, and nothing is left; one that grows gives a container of the size
// first measured.
TEST_F(FaultsTest, EncryptOfASourceThatChangesSizeWhileRead) {
  struct Resize : FileFaults {
    std::string path;
    uintmax_t size = 0;
    bool done = false;
    uint32_t Before(Operation op, FileMode mode) override {
      if (op == Read && mode == FileMode::Read && !done) {
        std::filesystem::resize_file(path, size);
        done = true;
      }
      return 0;
    }
  };
  for (const uintmax_t newSize : {uintmax_t{(3u << 20) / 2}, uintmax_t{(3u << 20) + 4096}}) {
    ui = RecordingUi();
    RemoveFile(dir / "two.bin.aqv3");
    WriteBytes(dir / "two.bin", p2);
    Resize resize;
    resize.path = dir / "two.bin";
    resize.size = newSize;
    FileList files;
    files.Append(dir / "two.bin");
    FileFaults* previous = InstallFileFaults(&resize);
    char password[257] = "pw";
    EncryptFiles(lock, files, password, GenericNames(false), ui);
    InstallFileFaults(previous);
    if (newSize < p2.size()) {
      ASSERT_EQ(ui.errors.size(), 1u) << newSize;
      EXPECT_EQ(ui.errors[0].message, "파일을 읽을 수 없습니다.\r\n" + (dir / "two.bin"));
      EXPECT_EQ(ui.errors[0].code, EndOfFileError());
      EXPECT_FALSE(Exists(dir / "two.bin.aqv3"));
    } else {
      ASSERT_TRUE(ui.errors.empty()) << ui.errors[0].message;
      EXPECT_EQ(DecryptInMemory(ReadBytes(dir / "two.bin.aqv3"), "pw"), p2);
    }
  }
}
#endif
