#include "platform/file_ops.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <set>
#include <string>

#include "platform/file_handle.h"
#include "platform/system_error.h"
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

// What a move may replace, and that whatever it replaces is replaced as itself: a link
// at the destination is replaced, its target never written.
TEST(FileOps, MovePathReplacesOnlyWhatItMayAndNeverThroughALink) {
  enum class At { Nothing, File, ReadOnlyFile, Link, Folder };
  struct Case {
    At at;
    Replacing replacing;
    uint32_t status;  // 0: moved
  };
  const Case cases[] = {
      {At::Nothing, Replacing::Never, 0},
      {At::Nothing, Replacing::Writable, 0},
      {At::File, Replacing::Never, FileExistsError()},
      {At::File, Replacing::Writable, 0},
      {At::File, Replacing::Always, 0},
      {At::ReadOnlyFile, Replacing::Never, FileExistsError()},
      {At::ReadOnlyFile, Replacing::Writable, kAccessDenied},
      {At::ReadOnlyFile, Replacing::Always, 0},
      {At::Link, Replacing::Never, FileExistsError()},
      {At::Link, Replacing::Always, 0},
      {At::Folder, Replacing::Never, FileExistsError()},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(index);
    testutil::TempDir dir;
    const std::string from = dir.Write("new.tmp", "new content");
    const std::string victim = dir.Write("victim.txt", "theirs");
    const std::string to = dir / ("final" + std::to_string(index++) + ".txt");
    std::error_code error;
    switch (c.at) {
      case At::Nothing: break;
      case At::File: dir.Write(to.substr(to.find_last_of(kPathSeparator) + 1), "old"); break;
      case At::ReadOnlyFile:
        dir.Write(to.substr(to.find_last_of(kPathSeparator) + 1), "old");
        ASSERT_EQ(SetReadOnly(to.c_str(), true), 0u);
        break;
      case At::Link: std::filesystem::create_symlink(victim, to, error); break;
      case At::Folder: ASSERT_EQ(CreateFolder(to.c_str()), 0u); break;
    }
    if (error) continue;  // a system where this user cannot make links
    EXPECT_EQ(MoveRefusal(to.c_str(), c.replacing), c.status);
    EXPECT_EQ(MovePath(from.c_str(), to.c_str(), c.replacing), c.status);
    EXPECT_EQ(testutil::ReadText(victim), "theirs");
    if (c.status == 0) {
      EXPECT_EQ(testutil::ReadText(to), "new content");
      EXPECT_FALSE(Exists(from));
      EXPECT_FALSE(std::filesystem::is_symlink(to));
    } else {
      EXPECT_EQ(testutil::ReadText(from), "new content") << "a refused move leaves both names alone";
      EXPECT_EQ(IsReadOnlyOnDisk(to), c.at == At::ReadOnlyFile);
    }
    SetReadOnly(to.c_str(), false);
  }
  testutil::TempDir dir;
  const std::string to = dir.Write("final.txt", "old");
  EXPECT_EQ(MovePath((dir / "missing.tmp").c_str(), to.c_str(), Replacing::Always), kFileNotFound);
  EXPECT_EQ(testutil::ReadText(to), "old") << "a failed move leaves the target alone";
}

// Whether a file is held: a missing file or folder on its path is never "in use", so a
// wait for a file to be let go always ends once it is gone.
TEST(FileOps, InUseAndOpenTellHoldersFromAbsence) {
  testutil::TempDir dir;
  const std::string plain = dir.Write("plain.txt", "x");
  const std::string readOnly = dir.Write("read-only.txt", "x");
  ASSERT_EQ(SetReadOnly(readOnly.c_str(), true), 0u);
  const std::string held = dir.Write("held.txt", "x");
  FileHandle holder;  // another program writing it, sharing nothing
  ASSERT_EQ(holder.Open(held.c_str(), FileMode::Write, Disposition::OpenExisting), 0u);
  struct Case {
    std::string path;
    bool inUse, open;
  } cases[] = {
      {plain, false, false},
      {readOnly, true, false},
      {held, true, true},
      {dir / "missing.txt", false, false},
      {(dir / "missing folder") + kPathSeparator + "file.txt", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsFileInUse(c.path.c_str()), c.inUse) << c.path;
    EXPECT_EQ(IsFileOpen(c.path.c_str()), c.open) << c.path;
  }
  SetReadOnly(readOnly.c_str(), false);
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
