#include "platform/lock_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/test_util.h"

// Holders here are in one process; the system tells them apart as it tells processes
// apart (a handle's share mode, an open file's own flock).
TEST(LockFile, HeldWhileAnyHolderRunsRemovedByTheLastOrOnceUnheld) {
  testutil::TempDir dir;
  const std::string path = (dir / "a.txt.qv3lock");
  EXPECT_FALSE(IsLockFileHeld(path.c_str()));
  EXPECT_FALSE(RemoveUnheldLockFile(path.c_str()));

  LockFile first, second;
  ASSERT_TRUE(first.Hold(path.c_str()));
  ASSERT_TRUE(second.Hold(path.c_str()));
  EXPECT_TRUE(IsLockFileHeld(path.c_str()));
  EXPECT_FALSE(RemoveUnheldLockFile(path.c_str()));

  first.Release();
  EXPECT_FALSE(first.IsHeld());
  EXPECT_TRUE(std::filesystem::exists(path)) << "removed while another holder has it";
  EXPECT_TRUE(IsLockFileHeld(path.c_str()));
  second.Release();
  EXPECT_FALSE(std::filesystem::exists(path));

  // A lock file left by a holder that died: not held, and removed.
  dir.Write("dead.qv3lock", "");
  EXPECT_FALSE(IsLockFileHeld((dir / "dead.qv3lock").c_str()));
  EXPECT_TRUE(RemoveUnheldLockFile((dir / "dead.qv3lock").c_str()));
  EXPECT_FALSE(std::filesystem::exists((dir / "dead.qv3lock")));

  // A stale file of the name is taken over; a missing folder holds nothing.
  dir.Write("taken.qv3lock", "");
  {
    LockFile taken;
    EXPECT_TRUE(taken.Hold((dir / "taken.qv3lock").c_str()));
    EXPECT_TRUE(IsLockFileHeld((dir / "taken.qv3lock").c_str()));
  }
  EXPECT_FALSE(std::filesystem::exists((dir / "taken.qv3lock")));
  LockFile nowhere;
  EXPECT_FALSE(nowhere.Hold((dir / "missing/x.qv3lock").c_str()));
  EXPECT_FALSE(nowhere.IsHeld());
}
