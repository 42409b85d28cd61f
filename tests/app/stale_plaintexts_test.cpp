#include "app/stale_plaintexts.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/file_handle.h"
#include "platform/file_ops.h"
#include "platform/lock_file.h"
#include "tests/engine_fixture.h"

using namespace testutil;

namespace {

// What a working folder may hold, and who has it. Running viewers hold their lock files
// here in this process; another program is a read handle without write sharing.
struct Entry {
  const char* name;
  bool readOnly;
  bool lockHeld;    // a running viewer holds this file as its lock file
  bool openByOther;
  bool kept;        // what the clean-up must do with it
};

const Entry kEntries[] = {
    // Left by dead runs: plaintexts (read-only as the engines leave them, or not), a
    // partial output, an unheld lock file, and a read-only plaintext whose own name looks
    // like a lock file.
    {"stale.txt", true, false, false, false},
    {"보고서.hwp", true, false, false, false},
    {"cleared.txt", false, false, false, false},
    {"dead.docx.qv3part", false, false, false, false},
    {"dead.docx.qv3lock", false, false, false, false},
    {"odd.qv3lock", true, false, false, false},
    // A running viewer's plaintext, even with no program holding it (a program that
    // read it and closed it), its lock file, and the partial output of its job.
    {"shown.txt", true, false, false, true},
    {"shown.txt.qv3lock", false, true, false, true},
    {"writing.pdf.qv3part", false, false, false, true},
    {"writing.pdf.qv3lock", false, true, false, true},
    // Its partial output under a later temporary name (the first was taken), and one of
    // a name no run makes.
    {"taken.pdf.qv3part3", false, false, false, true},
    {"taken.pdf.qv3lock", false, true, false, true},
    {"taken.pdf.qv3part1", false, false, false, false},
    // A stale plaintext another program still has open.
    {"held.txt", true, false, true, true},
};

}  // namespace

TEST(RemoveStalePlaintexts, RemovesWhatNoRunMarksAndNoProgramHolds) {
  TempDir dir;
  std::vector<std::unique_ptr<LockFile>> runs;
  std::vector<std::unique_ptr<FileHandle>> programs;
  for (const Entry& e : kEntries) {
    const std::string path = dir / e.name;
    if (e.lockHeld) {
      runs.push_back(std::make_unique<LockFile>());
      ASSERT_TRUE(runs.back()->Hold(path.c_str())) << e.name;
    } else {
      WriteBytes(path, {1, 2, 3});
    }
    if (e.readOnly) {
      ASSERT_EQ(SetReadOnly(path.c_str(), true), 0u) << e.name;
    }
    if (e.openByOther) {
      programs.push_back(std::make_unique<FileHandle>());
      ASSERT_EQ(programs.back()->Open(path.c_str(), FileMode::Read, Disposition::OpenExisting), 0u) << e.name;
    }
  }
  // A folder, and what is inside it, is never touched.
  const std::string folder = dir / "folder";
  ASSERT_EQ(CreateFolder(folder.c_str()), 0u);
  WriteBytes(folder + kPathSeparator + "inner.txt", {4});

  RemoveStalePlaintexts(dir.path());

  for (const Entry& e : kEntries) {
    const std::string path = dir / e.name;
    EXPECT_EQ(Exists(path), e.kept) << e.name;
    if (e.kept && !e.lockHeld) {
      EXPECT_EQ(testutil::IsReadOnly(path), e.readOnly) << e.name << ": its read-only mark";
    }
  }
  EXPECT_TRUE(Exists(folder + kPathSeparator + "inner.txt"));
  for (const auto& run : runs) {
    EXPECT_TRUE(run->IsHeld());
  }

  // Once the runs have ended (their lock files go with them) and the program has let
  // go, the next clean-up removes the rest.
  runs.clear();
  programs.clear();
  EXPECT_FALSE(Exists(dir / "shown.txt.qv3lock"));
  RemoveStalePlaintexts(dir.path());
  std::vector<std::string> left;
  ASSERT_TRUE(ListFiles(dir.path().c_str(), &left));
  EXPECT_TRUE(left.empty()) << left.size() << " files left, the first " << (left.empty() ? "" : left[0]);
  EXPECT_TRUE(Exists(folder + kPathSeparator + "inner.txt"));

  // A folder that does not exist is not made.
  RemoveStalePlaintexts(dir / "missing");
  EXPECT_FALSE(Exists(dir / "missing"));
}
