// Where the working folder lives on systems without the Windows folder services.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "platform/working_folder.h"
#include "tests/test_util.h"

namespace {

// Sets environment variables for one test and puts the old values back afterwards.
class EnvironmentOverride {
 public:
  ~EnvironmentOverride() {
    for (const auto& [name, value] : m_saved) {
      if (value.first) setenv(name.c_str(), value.second.c_str(), 1);
      else unsetenv(name.c_str());
    }
  }
  void Set(const std::string& name, const char* value) {
    if (!m_saved.count(name)) {
      const char* old = std::getenv(name.c_str());
      m_saved[name] = {old != nullptr, old ? old : ""};
    }
    if (value) setenv(name.c_str(), value, 1);
    else unsetenv(name.c_str());
  }

 private:
  std::map<std::string, std::pair<bool, std::string>> m_saved;
};

mode_t Mode(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

}  // namespace

TEST(WorkingFolderPosix, UsesAPrivateRuntimeFolder) {
  testutil::TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0700), 0);
  EnvironmentOverride env;
  env.Set("XDG_RUNTIME_DIR", dir.path().c_str());
  EXPECT_EQ(WorkingFolder(), dir.path() + "/QV3V");
  env.Set("XDG_RUNTIME_DIR", (dir.path() + "/").c_str());
  EXPECT_EQ(WorkingFolder(), dir.path() + "/QV3V") << "no doubled separator";
}

TEST(WorkingFolderPosix, IgnoresARuntimeFolderThatIsRelativeMissingOrShared) {
  testutil::TempDir dir;
  const std::string cache = (dir / "cache");
  const std::string expected = cache + "/tarvessin/QV3V";
  EnvironmentOverride env;
  env.Set("XDG_CACHE_HOME", cache.c_str());

  env.Set("XDG_RUNTIME_DIR", nullptr);
  EXPECT_EQ(WorkingFolder(), expected);
  env.Set("XDG_RUNTIME_DIR", "run/user");
  EXPECT_EQ(WorkingFolder(), expected);
  env.Set("XDG_RUNTIME_DIR", (dir / "missing").c_str());
  EXPECT_EQ(WorkingFolder(), expected);
  const std::string shared = (dir / "shared");
  ASSERT_EQ(mkdir(shared.c_str(), 0755), 0);
  env.Set("XDG_RUNTIME_DIR", shared.c_str());
  EXPECT_EQ(WorkingFolder(), expected) << "others could read a plaintext there";
}

TEST(WorkingFolderPosix, CreatesAPrivateFolderInTheCacheFolder) {
  testutil::TempDir dir;
  EnvironmentOverride env;
  env.Set("XDG_RUNTIME_DIR", nullptr);

  // $XDG_CACHE_HOME, created when missing.
  const std::string cache = (dir / "cache");
  env.Set("XDG_CACHE_HOME", cache.c_str());
  EXPECT_EQ(WorkingFolder(), cache + "/tarvessin/QV3V");
  EXPECT_EQ(Mode(cache + "/tarvessin"), 0700u);
  EXPECT_FALSE(std::filesystem::exists(cache + "/tarvessin/QV3V")) << "the last level is the caller's";

  // An existing folder of ours that others may enter is closed to them.
  ASSERT_EQ(chmod((cache + "/tarvessin").c_str(), 0755), 0);
  EXPECT_EQ(WorkingFolder(), cache + "/tarvessin/QV3V");
  EXPECT_EQ(Mode(cache + "/tarvessin"), 0700u);

  // Without $XDG_CACHE_HOME (or with a relative one): ~/.cache.
  const std::string home = (dir / "home");
  ASSERT_EQ(mkdir(home.c_str(), 0755), 0);
  env.Set("HOME", home.c_str());
  env.Set("XDG_CACHE_HOME", nullptr);
  EXPECT_EQ(WorkingFolder(), home + "/.cache/tarvessin/QV3V");
  EXPECT_EQ(Mode(home + "/.cache/tarvessin"), 0700u);
  env.Set("XDG_CACHE_HOME", "relative/cache");
  EXPECT_EQ(WorkingFolder(), home + "/.cache/tarvessin/QV3V");
}

TEST(WorkingFolderPosix, NeverFollowsALinkPlantedInThePlaceOfItsFolder) {
  testutil::TempDir dir;
  EnvironmentOverride env;
  env.Set("XDG_RUNTIME_DIR", nullptr);
  const std::string cache = (dir / "cache");
  const std::string elsewhere = (dir / "elsewhere");
  ASSERT_EQ(mkdir(cache.c_str(), 0700), 0);
  ASSERT_EQ(mkdir(elsewhere.c_str(), 0700), 0);
  ASSERT_EQ(symlink(elsewhere.c_str(), (cache + "/tarvessin").c_str()), 0);
  env.Set("XDG_CACHE_HOME", cache.c_str());
  const std::string folder = WorkingFolder();
  EXPECT_EQ(folder.rfind(cache, 0), std::string::npos) << folder;
  EXPECT_EQ(folder.rfind(elsewhere, 0), std::string::npos) << folder;
  EXPECT_EQ(folder.substr(folder.size() - 5), "/QV3V");
}

#endif
