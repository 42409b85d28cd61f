#include "platform/file_ops.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <set>
#include <string>

#include "tests/test_util.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>

#include <cerrno>
#endif

namespace {

#ifdef _WIN32
constexpr uint32_t kFileNotFound = ERROR_FILE_NOT_FOUND;
constexpr uint32_t kPathNotFound = ERROR_PATH_NOT_FOUND;
constexpr uint32_t kAccessDenied = ERROR_ACCESS_DENIED;
constexpr uint32_t kAlreadyExists = ERROR_ALREADY_EXISTS;

bool IsReadOnlyOnDisk(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}
bool IsFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
#else
constexpr uint32_t kFileNotFound = ENOENT;
constexpr uint32_t kPathNotFound = ENOENT;
constexpr uint32_t kAccessDenied = EACCES;
constexpr uint32_t kAlreadyExists = EEXIST;

mode_t Mode(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}
// Permission bits, not an attempt to write: root may write whatever the bits say.
bool IsReadOnlyOnDisk(const std::string& path) { return (Mode(path) & 0222) == 0; }
bool IsFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
#endif

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

}  // namespace

TEST(FileOps, SetReadOnlyMarksAndClearsTheFile) {
  testutil::TempDir dir;
  const std::string file = dir.Write("plain.txt", "text");
  ASSERT_FALSE(IsReadOnlyOnDisk(file));

  EXPECT_EQ(SetReadOnly(file.c_str(), true), 0u);
  EXPECT_TRUE(IsReadOnlyOnDisk(file));
  EXPECT_EQ(SetReadOnly(file.c_str(), true), 0u) << "marking twice is harmless";
  EXPECT_TRUE(IsReadOnlyOnDisk(file));

  EXPECT_EQ(SetReadOnly(file.c_str(), false), 0u);
  EXPECT_FALSE(IsReadOnlyOnDisk(file));
  EXPECT_EQ(testutil::ReadText(file), "text");

  EXPECT_EQ(SetReadOnly((dir / "missing.txt").c_str(), true), kFileNotFound);
}

#ifndef _WIN32
TEST(FileOps, SetReadOnlyTouchesOnlyWriteBits) {
  testutil::TempDir dir;
  const std::string file = dir.Write("shared.txt", "text");
  ASSERT_EQ(chmod(file.c_str(), 0764), 0);
  ASSERT_EQ(SetReadOnly(file.c_str(), true), 0u);
  EXPECT_EQ(Mode(file), 0544u) << "every write bit goes, read and execute bits stay";
  ASSERT_EQ(SetReadOnly(file.c_str(), false), 0u);
  EXPECT_EQ(Mode(file), 0744u) << "only the owner's write bit comes back";
}
#endif

TEST(FileOps, DeletePathReportsWhatStoppedIt) {
  testutil::TempDir dir;
  const std::string file = dir.Write("gone.txt", "x");
  EXPECT_EQ(DeletePath(file.c_str()), 0u);
  EXPECT_FALSE(Exists(file));
  EXPECT_EQ(DeletePath(file.c_str()), kFileNotFound);

  // A read-only file stays until its mark is cleared, on every system and for root.
  const std::string kept = dir.Write("kept.txt", "x");
  ASSERT_EQ(SetReadOnly(kept.c_str(), true), 0u);
  EXPECT_EQ(DeletePath(kept.c_str()), kAccessDenied);
  EXPECT_TRUE(Exists(kept));
  ASSERT_EQ(SetReadOnly(kept.c_str(), false), 0u);
  EXPECT_EQ(DeletePath(kept.c_str()), 0u);
  EXPECT_FALSE(Exists(kept));
}

TEST(FileOps, ReplacePathMovesOntoAnExistingFile) {
  testutil::TempDir dir;
  const std::string from = dir.Write("new.tmp", "new content");
  const std::string to = dir.Write("final.txt", "old content that is longer");
  EXPECT_EQ(ReplacePath(from.c_str(), to.c_str()), 0u);
  EXPECT_EQ(testutil::ReadText(to), "new content");
  EXPECT_FALSE(Exists(from));

  const std::string again = dir.Write("again.tmp", "second");
  const std::string fresh = (dir / "fresh.txt");
  EXPECT_EQ(ReplacePath(again.c_str(), fresh.c_str()), 0u) << "no file at the target is fine";
  EXPECT_EQ(testutil::ReadText(fresh), "second");

  EXPECT_EQ(ReplacePath((dir / "missing.tmp").c_str(), to.c_str()), kFileNotFound);
  EXPECT_EQ(testutil::ReadText(to), "new content") << "a failed move leaves the target alone";
}

TEST(FileOps, ReplacePathLeavesAReadOnlyTargetAlone) {
  testutil::TempDir dir;
  const std::string from = dir.Write("new.tmp", "new");
  const std::string to = dir.Write("protected.txt", "old");
  ASSERT_EQ(SetReadOnly(to.c_str(), true), 0u);
  EXPECT_EQ(ReplacePath(from.c_str(), to.c_str()), kAccessDenied);
  EXPECT_EQ(testutil::ReadText(to), "old");
  EXPECT_EQ(testutil::ReadText(from), "new");
}

TEST(FileOps, CreateFolderMakesOneLevelAndAcceptsAnExistingFolder) {
  testutil::TempDir dir;
  const std::string folder = (dir / "QV3V");
  EXPECT_EQ(CreateFolder(folder.c_str()), 0u);
  EXPECT_TRUE(IsFolder(folder));
  EXPECT_EQ(CreateFolder(folder.c_str()), 0u);

  const std::string file = dir.Write("occupied", "x");
  EXPECT_EQ(CreateFolder(file.c_str()), kAlreadyExists) << "a file of that name is not a folder";
  EXPECT_FALSE(IsFolder(file));

  const std::string deep = (dir / "missing") + kPathSeparator + "child";
  EXPECT_EQ(CreateFolder(deep.c_str()), kPathNotFound);
  EXPECT_FALSE(Exists((dir / "missing")));
}

TEST(FileOps, FlushVolumeLeavesNothingBehind) {
  // The volume is opened with "open or create": a malformed device name would create a
  // file instead. Without administrative rights nothing happens at all; a character
  // that is no drive letter is ignored outright.
  testutil::TempDir dir;
  const std::string file = dir.Write("data.txt", "x");
  const auto listing = [] {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::current_path()))
      names.insert(entry.path().filename().string());
    return names;
  };
  const std::set<std::string> before = listing();
  FlushVolume(file[0]);
  FlushVolume('\\');
  FlushVolume('\0');
  EXPECT_EQ(listing(), before);
  EXPECT_EQ(testutil::ReadText(file), "x");
}
