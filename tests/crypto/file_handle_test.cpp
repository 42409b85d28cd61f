#include "platform/file_handle.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/system_error.h"
#include "tests/test_util.h"

namespace fs = std::filesystem;

namespace {

// The system's codes for the cases the engines tell apart, and the two of FileHandle's
// own: a closed or wrong-mode object, and a second open. On Linux these must not be 6
// and 110, which there are ENXIO and ETIMEDOUT.
#ifdef _WIN32
constexpr uint32_t kNotFound = 2, kExists = 80, kDenied = 5, kDirectory = 5, kBusy = 32;
constexpr uint32_t kInvalid = 6, kAlreadyOpen = 110;
#else
constexpr uint32_t kNotFound = 2, kExists = 17, kDenied = 13, kDirectory = 21, kBusy = 16;
constexpr uint32_t kInvalid = EBADF, kAlreadyOpen = EALREADY;
#endif

class FileHandleTest : public testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() /
            ("qv3-fh-" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
  }
  void TearDown() override {
    for (auto& e : fs::recursive_directory_iterator(m_dir))
      fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(m_dir);
  }
  std::string Path(const char* name) const { return (m_dir / name).string(); }
  void Put(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
  }
  std::string Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  void MakeReadOnly(const std::string& path) {
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
  }
  fs::path m_dir;
};

}  // namespace

TEST_F(FileHandleTest, ClosedAndWrongModeCallsReturnInvalidHandle) {
  FileHandle f;
  uint8_t b[4];
  uint32_t n = 99;
  int64_t size = -7;
  EXPECT_EQ(f.Read(b, 4, &n), kInvalid);
  EXPECT_EQ(n, 0u);
  n = 99;
  EXPECT_EQ(f.Write(b, 4, &n), kInvalid);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(f.GetSize(&size), kInvalid);
  EXPECT_EQ(size, -7);
  EXPECT_EQ(f.Close(), 0u);

  Put(Path("r"), "abc");
  ASSERT_EQ(f.Open(Path("r").c_str(), FileMode::Read, Disposition::OpenExisting), 0u);
  n = 99;
  EXPECT_EQ(f.Write(b, 4, &n), kInvalid);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(f.Close(), 0u);

  ASSERT_EQ(f.Open(Path("w").c_str(), FileMode::Write, Disposition::CreateNew), 0u);
  n = 99;
  EXPECT_EQ(f.Read(b, 4, &n), kInvalid);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(f.GetSize(&size), kInvalid);
  EXPECT_EQ(size, -7);
  EXPECT_EQ(f.Seek(0), kInvalid);

  // The error box explains both codes in the system's own words.
  EXPECT_NE(SystemErrorText(kInvalid), "");
  EXPECT_NE(SystemErrorText(kAlreadyOpen), "");
}

TEST_F(FileHandleTest, ReadWriteSizeAndEndOfFile) {
  FileHandle w;
  ASSERT_EQ(w.Open(Path("f").c_str(), FileMode::Write, Disposition::CreateNew), 0u);
  uint32_t n = 0;
  EXPECT_EQ(w.Write("hello, world", 12, &n), 0u);
  EXPECT_EQ(n, 12u);
  EXPECT_TRUE(w.Flush());
  EXPECT_EQ(w.Close(), 0u);
  EXPECT_FALSE(w.IsOpen());

  FileHandle r;
  ASSERT_EQ(r.Open(Path("f").c_str(), FileMode::Read, Disposition::OpenExisting), 0u);
  int64_t size = 0;
  EXPECT_EQ(r.GetSize(&size), 0u);
  EXPECT_EQ(size, 12);
  char buf[32] = {};
  EXPECT_EQ(r.Read(buf, 5, &n), 0u);
  EXPECT_EQ(std::string(buf, n), "hello");
  EXPECT_EQ(r.Read(buf, 32, &n), 0u);
  EXPECT_EQ(std::string(buf, n), ", world");
  EXPECT_EQ(r.Read(buf, 32, &n), 0u);  // end of file: success, nothing read
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(r.Seek(7), 0u);
  EXPECT_EQ(r.Read(buf, 32, &n), 0u);
  EXPECT_EQ(std::string(buf, n), "world");
}

TEST_F(FileHandleTest, OpenBehavioursAndTheirCodes) {
  FileHandle f;
  EXPECT_EQ(f.Open(Path("missing").c_str(), FileMode::Read, Disposition::OpenExisting), kNotFound);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(f.OpenError(), kNotFound);

  Put(Path("old"), "old content");
  EXPECT_EQ(f.Open(Path("old").c_str(), FileMode::Write, Disposition::CreateNew), kExists);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(Get(Path("old")), "old content");

  ASSERT_EQ(f.Open(Path("old").c_str(), FileMode::Write, Disposition::CreateAlways), 0u);
  uint32_t n;
  EXPECT_EQ(f.Write("new", 3, &n), 0u);
  // A second open leaves the open file as it is.
  EXPECT_EQ(f.Open(Path("other").c_str(), FileMode::Read, Disposition::OpenExisting), kAlreadyOpen);
  EXPECT_TRUE(f.IsOpen());
  EXPECT_EQ(f.Close(), 0u);
  EXPECT_EQ(Get(Path("old")), "new");
  EXPECT_FALSE(fs::exists(Path("other")));

  // Closed again, the object opens anything in either mode.
  EXPECT_EQ(f.Open(Path("old").c_str(), FileMode::Read, Disposition::OpenExisting), 0u);
}

TEST_F(FileHandleTest, ReadOnlyFilesAreNeverWrittenNorReplacedEvenForRoot) {
  Put(Path("ro"), "keep me");
  MakeReadOnly(Path("ro"));
  FileHandle f;
  EXPECT_EQ(f.Open(Path("ro").c_str(), FileMode::Write, Disposition::CreateAlways), kDenied);
  EXPECT_EQ(f.Open(Path("ro").c_str(), FileMode::Write, Disposition::OpenExisting), kDenied);
  EXPECT_EQ(f.Open(Path("ro").c_str(), FileMode::Write, Disposition::TruncateExisting), kDenied);
  EXPECT_EQ(f.Open(Path("ro").c_str(), FileMode::Write, Disposition::CreateNew), kExists);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(Get(Path("ro")), "keep me");
  // Reading it is fine.
  EXPECT_EQ(f.Open(Path("ro").c_str(), FileMode::Read, Disposition::OpenExisting), 0u);
}

TEST_F(FileHandleTest, DirectoriesAreNotOpened) {
  fs::create_directory(Path("dir"));
  FileHandle f;
  EXPECT_EQ(f.Open(Path("dir").c_str(), FileMode::Read, Disposition::OpenExisting), kDirectory);
  EXPECT_EQ(f.Open(Path("dir").c_str(), FileMode::Write, Disposition::CreateAlways), kDirectory);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_TRUE(fs::is_directory(Path("dir")));
}

TEST_F(FileHandleTest, SharedReadingExclusiveWriting) {
  Put(Path("s"), "shared");
  FileHandle r1, r2, w;
  ASSERT_EQ(r1.Open(Path("s").c_str(), FileMode::Read, Disposition::OpenExisting), 0u);
  EXPECT_EQ(r2.Open(Path("s").c_str(), FileMode::Read, Disposition::OpenExisting), 0u);
  EXPECT_EQ(w.Open(Path("s").c_str(), FileMode::Write, Disposition::OpenExisting), kBusy);
  r1.Close();
  r2.Close();

  ASSERT_EQ(w.Open(Path("s").c_str(), FileMode::Write, Disposition::OpenExisting), 0u);
  EXPECT_EQ(r1.Open(Path("s").c_str(), FileMode::Read, Disposition::OpenExisting), kBusy);
  FileHandle w2;
  EXPECT_EQ(w2.Open(Path("s").c_str(), FileMode::Write, Disposition::CreateAlways), kBusy);
  w.Close();
  EXPECT_EQ(Get(Path("s")), "shared");  // the refused replace emptied nothing
}

TEST_F(FileHandleTest, DestructionClosesTheFile) {
  {
    FileHandle w;
    ASSERT_EQ(w.Open(Path("d").c_str(), FileMode::Write, Disposition::CreateNew), 0u);
    uint32_t n;
    w.Write("x", 1, &n);
  }
  FileHandle w2;
  EXPECT_EQ(w2.Open(Path("d").c_str(), FileMode::Write, Disposition::OpenExisting), 0u);
  w2.Close();
  EXPECT_EQ(Get(Path("d")), "x");
}
