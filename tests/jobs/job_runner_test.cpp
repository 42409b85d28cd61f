#include "jobs/job_runner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "tests/engine_fixture.h"

using namespace testutil;

namespace {

// Counts the waiting thread's event service as well.
class Ui : public RecordingUi {
 public:
  std::atomic<int> served{0};
  void ServeEvents() override { ++served; }
};

FileList* List(std::initializer_list<std::string> paths) {
  FileList* list = new FileList;
  for (const auto& p : paths) list->Append(p);
  return list;
}

}  // namespace

TEST(JobRunner, AGivenPasswordNamesContainersGenericallyAnEmptyOneByCategory) {
  TempDir dir;
  Ui ui;
  JobRunner runner(ui);
  WriteBytes(dir / "a.docx", RandomBytes(100, 1));
  WriteBytes(dir / "b.docx", RandomBytes(100, 2));
  WriteBytes(dir / "c.docx", RandomBytes(100, 3));
  runner.RunJob(List({dir / "a.docx"}), Flags(true), "pw");
  runner.RunJob(List({dir / "b.docx"}), Flags(true), "");
  runner.RunJob(List({dir / "c.docx"}), Flags(true), nullptr);
  EXPECT_TRUE(ui.errors.empty());
  EXPECT_TRUE(Exists(dir / "a.docx.aqv3"));
  EXPECT_TRUE(Exists(dir / "b.docx.wqv3"));
  EXPECT_TRUE(Exists(dir / "c.docx.wqv3"));

  // Back again: the decryption job with the same passwords.
  RemoveFile(dir / "a.docx");
  RemoveFile(dir / "b.docx");
  runner.RunJob(List({dir / "a.docx.aqv3"}), Flags(false), "pw");
  runner.RunJob(List({dir / "b.docx.wqv3"}), Flags(false), "");
  EXPECT_TRUE(ui.errors.empty());
  EXPECT_EQ(ReadBytes(dir / "a.docx"), RandomBytes(100, 1));
  EXPECT_EQ(ReadBytes(dir / "b.docx"), RandomBytes(100, 2));
}

TEST(JobRunner, TheLongestPasswordFitsALongerOneIsRefused) {
  TempDir dir;
  Ui ui;
  JobRunner runner(ui);
  WriteBytes(dir / "x.bin", RandomBytes(10, 4));
  const std::string longest(JobRunner::kMaxPassword, 'p');
  runner.RunJob(List({dir / "x.bin"}), Flags(true), longest.c_str());
  RemoveFile(dir / "x.bin");
  runner.RunJob(List({dir / "x.bin.aqv3"}), Flags(false), longest.c_str());
  EXPECT_TRUE(ui.errors.empty());
  EXPECT_EQ(ReadBytes(dir / "x.bin"), RandomBytes(10, 4));

  // One byte more would not fit the job record: refused, nothing started.
  const std::string tooLong(JobRunner::kMaxPassword + 1, 'p');
  WriteBytes(dir / "y.bin", RandomBytes(10, 5));
  runner.RunJob(List({dir / "y.bin"}), Flags(true), tooLong.c_str());
  ASSERT_EQ(ui.errors.size(), 1u);
  EXPECT_EQ(ui.errors[0].message, "암호가 너무 깁니다");
  EXPECT_EQ(ui.errors[0].code, 0u);
  EXPECT_EQ(ui.opened, 2);  // no third engine run
  EXPECT_FALSE(Exists(dir / "y.bin.aqv3"));
}

TEST(JobRunner, FinishedThreadsAreReapedByTheNextJobAndAtDestruction) {
  TempDir dir;
  Ui ui;
  {
    JobRunner runner(ui);
    FileList* empty = new FileList;
    runner.RunJob(empty, Flags(false), "pw");
    EXPECT_EQ(runner.ActiveJobs(), 0);
    EXPECT_EQ(runner.FinishedThreads(), 1u);
    runner.RunJob(new FileList, Flags(false), "pw");
    // The second worker closed the first one's handle before its engine ran.
    EXPECT_EQ(runner.FinishedThreads(), 1u);
    EXPECT_EQ(ui.opened, 2);
    EXPECT_EQ(ui.closed, 2);
  }
  EXPECT_TRUE(ui.errors.empty());
}

TEST(JobRunner, TheCallerWaitsForTheWholeJob) {
  TempDir dir;
  Ui ui;
  JobRunner runner(ui);
  WriteBytes(dir / "big.bin", RandomBytes(8 << 20, 6));
  runner.RunJob(List({dir / "big.bin"}), Flags(true, true, false), "pw");
  // When RunJob returns the engine has finished with every file.
  EXPECT_EQ(runner.ActiveJobs(), 0);
  EXPECT_FALSE(Exists(dir / "big.bin"));
  EXPECT_EQ(ReadBytes(dir / "big.bin.aqv3").size(), 294u + (8u << 20));
  EXPECT_EQ(ui.closed, 1);
}
