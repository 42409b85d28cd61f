#include "app/stale_plaintexts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_handle.h"
#include "platform/file_ops.h"
#include "platform/lock_file.h"
#include "tests/app/scripted_desktop.h"
#include "tests/engine_fixture.h"

using namespace testutil;

namespace {

// What a working folder may hold. A dead run's plaintext is recorded in its lock file,
// which no one holds; a running viewer holds its lock file here in this process; another
// program is a read handle on the file.
enum class Kind {
  Recorded,        // a dead run's plaintext, recorded and unchanged
  RecordedEdited,  // the same, changed after it was recorded
  Unrecorded,      // a file no run recorded (a program's, qv3's, an older viewer's)
  DeadPartial,     // a partial output of a run that died writing (its lock file is empty)
  RunningLock,     // a running viewer's lock file (held)
  RunningFile,     // what a running viewer is responsible for (its lock file is held)
  ForeignLock,     // a file of the lock files' name that holds something else
};

struct Entry {
  const char* name;
  Kind kind;
  bool openByOther;
  bool kept;      // by the first clean-up
  bool reported;  // by the first clean-up, and never again
};

const Entry kEntries[] = {
    {"stale.txt", Kind::Recorded, false, false, false},
    {"보고서.hwp", Kind::Recorded, false, false, false},
    {"held.txt", Kind::Recorded, true, true, false},
    {"edited.docx", Kind::RecordedEdited, false, true, true},
    {"saved-as.docx", Kind::Unrecorded, false, true, true},
    {"unrecorded.txt", Kind::Unrecorded, true, true, true},
    {"dead.docx.qv3part", Kind::DeadPartial, false, false, false},
    {"orphan.pdf.qv3part", Kind::Unrecorded, false, true, true},
    {"shown.txt", Kind::RunningFile, false, true, false},
    {"shown.txt.qv3lock", Kind::RunningLock, false, true, false},
    {"writing.pdf.qv3part2", Kind::RunningFile, false, true, false},
    {"writing.pdf.qv3lock", Kind::RunningLock, false, true, false},
    {"odd.qv3lock", Kind::ForeignLock, false, true, true},
};

}  // namespace

TEST(RemoveStalePlaintexts, RemovesOnlyWhatARunRecordedAndReportsTheRestOnce) {
  TempDir dir;
  const std::string path = dir / "QV3V";
  PrivateFolder folder;
  ASSERT_EQ(folder.Open(path), FolderRefusal::None);
  std::vector<std::unique_ptr<LockFile>> runs;
  std::vector<std::unique_ptr<FileHandle>> programs;
  for (const Entry& e : kEntries) {
    const std::string file = folder.PathOf(e.name);
    switch (e.kind) {
      case Kind::Recorded:
      case Kind::RecordedEdited:
        LeaveRecordedPlaintext(path, e.name, {1, 2, 3});
        if (e.kind == Kind::RecordedEdited) {
          RemoveFile(file);
          WriteBytes(file, {1, 2, 3, 4});  // saved anew by an editor
        }
        break;
      case Kind::DeadPartial: {
        LockFile lock;  // held from before the job; the run died before it recorded
        ASSERT_TRUE(lock.Hold(folder.PathOf("dead.docx.qv3lock").c_str()));
        lock.Leave();
        WriteBytes(file, {1});
        break;
      }
      case Kind::RunningLock:
        runs.push_back(std::make_unique<LockFile>());
        ASSERT_TRUE(runs.back()->Hold(file.c_str())) << e.name;
        break;
      case Kind::ForeignLock:
        WriteBytes(file, {'n', 'o', 't', 'e'});
        break;
      default:
        WriteBytes(file, {1, 2, 3});
    }
    if (e.openByOther) {
      programs.push_back(std::make_unique<FileHandle>());
      ASSERT_EQ(programs.back()->Open(file.c_str(), FileMode::Read, Disposition::OpenExisting), 0u) << e.name;
    }
  }
  // A folder, and what is inside it, is never touched.
  const std::string inner = folder.PathOf("folder");
  ASSERT_EQ(CreateFolder(inner.c_str()), 0u);
  WriteBytes(inner + kPathSeparator + "inner.txt", {4});

  std::vector<std::string> reported = RemoveStalePlaintexts(folder);
  std::sort(reported.begin(), reported.end());
  std::vector<std::string> expected;
  for (const Entry& e : kEntries) {
    EXPECT_EQ(Exists(folder.PathOf(e.name)), e.kept) << e.name;
    if (e.reported) expected.push_back(e.name);
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(reported, expected);
  EXPECT_FALSE(Exists(folder.PathOf("stale.txt.qv3lock"))) << "the lock file of a removed plaintext";
  EXPECT_FALSE(Exists(folder.PathOf("dead.docx.qv3lock")));
  EXPECT_TRUE(Exists(folder.PathOf("held.txt.qv3lock"))) << "the record of a plaintext still held";
  EXPECT_TRUE(Exists(inner + kPathSeparator + "inner.txt"));
  for (const auto& run : runs) EXPECT_TRUE(run->IsHeld());

  // Reported once: the next clean-up finds the same files and says nothing.
  EXPECT_EQ(RemoveStalePlaintexts(folder), std::vector<std::string>{});

  // Once the runs have ended and the program has let go, the recorded plaintext goes and
  // the running viewer's files, now no one's record, are reported; what the user has is
  // still there.
  runs.clear();
  programs.clear();
  reported = RemoveStalePlaintexts(folder);
  std::sort(reported.begin(), reported.end());
  EXPECT_EQ(reported, (std::vector<std::string>{"shown.txt", "writing.pdf.qv3part2"}));
  EXPECT_FALSE(Exists(folder.PathOf("held.txt")));
  for (const Entry& e : kEntries) {
    if (e.reported) {
      EXPECT_TRUE(Exists(folder.PathOf(e.name))) << e.name;
    }
  }
}
