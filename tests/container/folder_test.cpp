#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "container/folder_files.h"
#include "container/folder_rule.h"
#include "platform/file_ops.h"
#include "platform/folder_walk.h"
#include "tests/engine_fixture.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace testutil;

namespace {

// Every name of the shared table, on both roads, as the table says: taken, or skipped as
// the kind it names.
TEST(FolderRule, EachNameIsTakenOrSkippedAsTheTableSays) {
  std::ifstream table(DataPath("folder_rule.tsv"), std::ios::binary);
  ASSERT_TRUE(table.is_open());
  int rows = 0;
  for (std::string line; std::getline(table, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f;
    std::stringstream in(line);
    for (std::string part; std::getline(in, part, '\t');) f.push_back(part);
    ASSERT_EQ(f.size(), 3u) << line;
    for (const auto& [work, expected] :
         {std::pair{FolderWork::Encrypt, f[1]}, std::pair{FolderWork::Decrypt, f[2]}}) {
      FolderSkip skip = FolderSkip::Link;
      const bool taken = TakesFoundFile(work, f[0], &skip);
      EXPECT_EQ(taken ? "take" : FolderSkipName(skip), expected) << f[0];
      // Only the last part counts: a folder's name never does.
      EXPECT_EQ(TakesFoundFile(work, "x.aqv3" + std::string(1, kPathSeparator) + f[0], &skip),
                taken)
          << f[0];
    }
    ++rows;
  }
  EXPECT_GE(rows, 20);
}

// The tree the walk tests share: nested folders, an empty one, names bytewise out of
// their letters' order, a Korean name, one with a space and quotes, a container and a
// temporary, links to a file and to a folder outside it, a FIFO; and that outside folder.
struct Tree {
  TempDir dir;
  std::string root = dir / "root", outside = dir / "outside";
  bool links = true, fifo = false;

  Tree() {
    auto in = [&](const std::string& relative) {
      std::string path = root + kPathSeparator + relative;
      for (char& c : path)
        if (c == '/') c = kPathSeparator;
      return path;
    };
    for (const std::string& folder : {root, outside, in("a"), in("a/deeper"), in("empty")})
      EXPECT_EQ(CreateFolder(folder.c_str()), 0u) << folder;
    WriteBytes(outside + kPathSeparator + "secret.txt", {'s'});
    for (const char* file : {"b.txt", "A.txt", "a/x.txt", "a/한글 이름.txt", "a/sp ace 'q.txt",
                             "a/deeper/z.bin", "c.txt.aqv3", "d.txt.qv3part"})
      WriteBytes(in(file), std::vector<uint8_t>(std::string(file).size(), 'x'));
    std::error_code error;
    std::filesystem::create_symlink(outside + kPathSeparator + "secret.txt", in("link-file"),
                                    error);
    std::filesystem::create_directory_symlink(outside, in("link-dir"), error);
    links = !error;  // a system whose links this user cannot make
#ifndef _WIN32
    fifo = mkfifo(in("fifo").c_str(), 0600) == 0;
#endif
  }
};

std::vector<std::pair<std::string, WalkEntryType>> WalkAll(const std::string& root,
                                                           std::vector<WalkEntry>* all = nullptr) {
  std::vector<std::pair<std::string, WalkEntryType>> seen;
  const size_t prefix = root.size() + (root.back() == kPathSeparator ? 0 : 1);
  FolderWalk walk;
  EXPECT_EQ(walk.Open(root), 0u);
  WalkEntry entry;
  while (walk.Next(&entry)) {
    seen.emplace_back(entry.path.substr(prefix), entry.type);
    if (all) all->push_back(entry);
  }
  return seen;
}

// Every entry at any depth once, each folder's names sorted bytewise and a sub-folder's
// tree where its name falls; links and the FIFO reported and never followed or opened;
// each file as listed (size, identity, folder).
TEST(FolderWalk, EveryEntryOnceInOrderNothingFollowedOrOpened) {
  Tree tree;
  const std::string s(1, kPathSeparator);
  std::vector<std::pair<std::string, WalkEntryType>> expected = {
      {"A.txt", WalkEntryType::File},
      {"a" + s + "deeper" + s + "z.bin", WalkEntryType::File},
      {"a" + s + "sp ace 'q.txt", WalkEntryType::File},
      {"a" + s + "x.txt", WalkEntryType::File},
      {"a" + s + "한글 이름.txt", WalkEntryType::File},
      {"b.txt", WalkEntryType::File},
      {"c.txt.aqv3", WalkEntryType::File},
      {"d.txt.qv3part", WalkEntryType::File},
  };
  if (tree.fifo) expected.emplace_back("fifo", WalkEntryType::Fifo);
  if (tree.links) {
    expected.emplace_back("link-dir", WalkEntryType::Link);
    expected.emplace_back("link-file", WalkEntryType::Link);
  }
  std::vector<WalkEntry> all;
  EXPECT_EQ(WalkAll(tree.root + s, &all), expected)
      << "a root given with its separator walks the same";
  EXPECT_EQ(WalkAll(tree.root), expected);
  for (const WalkEntry& entry : all) {
    if (entry.type != WalkEntryType::File) continue;
    FileIdentity file, folder;
    EXPECT_TRUE(IdentityOf(entry.path.c_str(), &file) && file == entry.identity) << entry.path;
    EXPECT_TRUE(
        FolderIdentityOf(entry.path.substr(0, entry.path.rfind(kPathSeparator)).c_str(), &folder) &&
        folder == entry.folder)
        << entry.path;
    EXPECT_EQ(entry.size, ReadBytes(entry.path).size()) << entry.path;
  }
  // A root that is no folder, or none at all.
  FolderWalk walk;
  EXPECT_NE(walk.Open(tree.root + s + "b.txt"), 0u);
  EXPECT_NE(walk.Open(tree.root + s + "missing"), 0u);
  WalkEntry entry;
  EXPECT_FALSE(walk.Next(&entry));
}

// A folder swapped for a link to another folder after its parent was read is not entered:
// what is there is reported as a link and nothing of the other folder is walked.
TEST(FolderWalk, AFolderSwappedForALinkDuringTheWalkIsNotFollowed) {
  Tree tree;
  const std::string s(1, kPathSeparator);
  WriteBytes(tree.root + s + "a" + s + "zz.txt", {'z'});
  FolderWalk walk;
  ASSERT_EQ(walk.Open(tree.root), 0u);
  WalkEntry entry;
  ASSERT_TRUE(walk.Next(&entry));
  EXPECT_EQ(entry.path, tree.root + s + "A.txt");
  std::error_code error;
  std::filesystem::rename(tree.root + s + "a", tree.root + s + "a.moved", error);
  ASSERT_FALSE(error);
  std::filesystem::create_directory_symlink(tree.outside, tree.root + s + "a", error);
  if (error) GTEST_SKIP() << "this user cannot make links here";
  ASSERT_TRUE(walk.Next(&entry));
  EXPECT_EQ(entry.path, tree.root + s + "a");
  EXPECT_EQ(entry.type, WalkEntryType::Link);
  while (walk.Next(&entry)) {
    EXPECT_EQ(entry.path.find("secret"), std::string::npos)
        << "walked into the link: " << entry.path;
    EXPECT_EQ(entry.path.find("a.moved"), std::string::npos)
        << "a folder listed after the walk read its parent";
  }
}

#ifndef _WIN32
// /dev holds devices and, on every Linux here, mounts of their own (/dev/pts, /dev/shm):
// those are reported as other file systems and nothing under them is walked.
TEST(FolderWalk, DevicesAndOtherFileSystemsAreReportedNotEntered) {
  struct stat dev {
  }, pts{};
  if (stat("/dev", &dev) != 0 || stat("/dev/pts", &pts) != 0 || pts.st_dev == dev.st_dev)
    GTEST_SKIP() << "no /dev/pts mount here";
  bool sawPts = false, sawDevice = false;
  FolderWalk walk;
  ASSERT_EQ(walk.Open("/dev"), 0u);
  WalkEntry entry;
  while (walk.Next(&entry)) {
    EXPECT_NE(entry.path.rfind("/dev/pts/", 0), 0u)
        << "walked into another file system: " << entry.path;
    if (entry.path == "/dev/pts") {
      sawPts = true;
      EXPECT_EQ(entry.type, WalkEntryType::OtherFileSystem);
    }
    if (entry.path == "/dev/null") {
      sawDevice = true;
      EXPECT_EQ(entry.type, WalkEntryType::Device);
    }
  }
  EXPECT_TRUE(sawPts);
  EXPECT_TRUE(sawDevice);
}
#endif

// A selection of a file, a folder and a missing file: the files each road takes, in
// order, the folder's where it was given; every skip counted and listed in the walk's
// order; what was found, and the run's share, as the files are taken.
TEST(FolderFiles, TheRuleOverASelectionInOrderWithEverySkipCounted) {
  Tree tree;
  const std::string s(1, kPathSeparator);
  const std::string named = tree.dir / "named.txt", missing = tree.dir / "missing.txt";
  WriteBytes(named, {'n', 'n'});
  struct Case {
    FolderWork work;
    std::vector<std::string> taken;  // relative to the root, but the named ones
    FolderSkipCounts skipped;
  };
  const Case cases[] = {
      {FolderWork::Encrypt,
       {named, "A.txt", "a" + s + "deeper" + s + "z.bin", "a" + s + "sp ace 'q.txt",
        "a" + s + "x.txt", "a" + s + "한글 이름.txt", "b.txt", missing},
       {2, 0, 0, 1, 0, 1, 0, 1}},
      {FolderWork::Decrypt, {named, "c.txt.aqv3", missing}, {2, 0, 0, 1, 0, 0, 6, 1}},
  };
  for (const Case& c : cases) {
    FolderSkipCounts expected = c.skipped;
    if (!tree.links) expected[static_cast<size_t>(FolderSkip::Link)] = 0;
    if (!tree.fifo) expected[static_cast<size_t>(FolderSkip::Fifo)] = 0;
    FolderFiles files(c.work, {named, tree.root, missing}, true);
    EXPECT_TRUE(files.AnyFolder());
    std::vector<std::string> listed;
    files.ListSkipped([&](FolderSkip kind, const std::string& path) {
      listed.push_back(std::string(FolderSkipName(kind)) + " " + path.substr(tree.root.size() + 1));
    });
    std::vector<std::string> taken;
    ListedFile file;
    unsigned percent = 0;
    while (files.Next(&file)) {
      const bool found = file.origin == ListedFile::Origin::Found;
      EXPECT_EQ(file.origin, found ? ListedFile::Origin::Found : ListedFile::Origin::Named)
          << file.path;
      taken.push_back(found ? file.path.substr(tree.root.size() + 1) : file.path);
      const unsigned now = files.RunPercent(50);
      EXPECT_GE(now, percent) << "the run's share went back";
      percent = files.RunPercent(100);
    }
    EXPECT_EQ(taken, c.taken);
    EXPECT_EQ(files.Skipped(), expected);
    EXPECT_EQ(percent, 100u);
    const FolderFiles::Found found = files.FoundSoFar();
    EXPECT_TRUE(found.complete);
    EXPECT_EQ(found.files, c.taken.size());
    uint64_t skippedCount = 0;
    for (uint64_t n : expected) skippedCount += n;
    EXPECT_EQ(listed.size(), skippedCount);
    EXPECT_TRUE(std::is_sorted(listed.begin(), listed.end(),
                               [](const std::string& a, const std::string& b) {
                                 return a.substr(a.find(' ')) <
                                        b.substr(
                                            b.find(' '));  // in the walk's order, here the names'
                               }))
        << "the listing is not in the walk's order";
  }
  // Folders not walked are named paths, as any other.
  FolderFiles flat(FolderWork::Encrypt, {tree.root}, false);
  EXPECT_FALSE(flat.AnyFolder());
  ListedFile file;
  ASSERT_TRUE(flat.Next(&file));
  EXPECT_EQ(file.origin, ListedFile::Origin::Named);
  EXPECT_EQ(file.path, tree.root);
  EXPECT_FALSE(flat.Next(&file));
}

// The walk runs ahead of the work by the look-ahead at most, however many files there
// are, and a folder that cannot be walked is one item of its own.
TEST(FolderFiles, TheWalkRunsAheadByTheLookAheadAtMost) {
  TempDir dir;
  for (int i = 0; i < 20; ++i) WriteBytes(dir / ("f" + std::to_string(100 + i)), {1});
  FolderFiles files(FolderWork::Encrypt, {dir.path(), dir / "f100"}, true, 3);
  ListedFile file;
  ASSERT_TRUE(files.Next(&file));
  EXPECT_EQ(file.path, dir / "f100");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  FolderFiles::Found found = files.FoundSoFar();
  EXPECT_FALSE(found.complete);
  EXPECT_LE(found.files, 1u + 1 + 3) << "the named file, the one taken, and three ahead";
  size_t count = 1;
  while (files.Next(&file)) ++count;
  EXPECT_EQ(count, 21u);
  found = files.FoundSoFar();
  EXPECT_TRUE(found.complete);
  EXPECT_EQ(found.files, 21u);
  EXPECT_EQ(found.bytes, 21u);
}

}  // namespace
