#include "platform/working_folder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>


namespace {

// A directory owned by this user. lstat for the folders made here (a link there could
// lead anywhere); stat for a runtime folder that the session names.
bool IsOwnDirectory(const std::string& path, bool followLink, struct stat* st) {
  const int rc = followLink ? stat(path.c_str(), st) : lstat(path.c_str(), st);
  return rc == 0 && S_ISDIR(st->st_mode) && st->st_uid == geteuid();
}

// Creates path with mode 0700 unless it exists; an existing folder of ours is made
// private. False when path is not (or cannot become) a private folder of this user.
bool EnsurePrivateDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (!IsOwnDirectory(path, false, &st)) return false;
  return (st.st_mode & 077) == 0 || chmod(path.c_str(), 0700) == 0;
}

std::string AbsoluteEnv(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') return std::string();
  return value;
}

std::string HomeFolder() {
  std::string home = AbsoluteEnv("HOME");
  if (!home.empty()) return home;
  if (const passwd* pw = getpwuid(geteuid())) {
    if (pw->pw_dir && pw->pw_dir[0] == '/') return pw->pw_dir;
  }
  return std::string();
}

void StripTrailingSlashes(std::string* path) {
  while (path->size() > 1 && path->back() == '/') path->pop_back();
}

// The folder the working folder lives in: the session's runtime folder (private and
// in memory on most systems), else a private folder in the user's cache folder.
// "" when none can be had; the result "/QV3V" is then a folder the user cannot create,
// so nothing is ever written where others could read it.
std::string BaseFolder() {
  std::string runtime = AbsoluteEnv("XDG_RUNTIME_DIR");
  struct stat st {};
  if (!runtime.empty() && IsOwnDirectory(runtime, true, &st) && (st.st_mode & 077) == 0)
    return runtime;

  std::string cache = AbsoluteEnv("XDG_CACHE_HOME");
  if (cache.empty()) {
    cache = HomeFolder();
    if (!cache.empty()) {
      StripTrailingSlashes(&cache);
      cache += "/.cache";
    }
  }
  if (!cache.empty()) {
    StripTrailingSlashes(&cache);
    // A missing cache folder is created as the user's own, as other programs would.
    if (mkdir(cache.c_str(), 0700) == 0 || errno == EEXIST) {
      std::string folder = cache + "/tarvessin";
      if (EnsurePrivateDirectory(folder)) return folder;
    }
  }

  std::string shared = "/tmp/tarvessin-" + std::to_string(geteuid());
  if (EnsurePrivateDirectory(shared)) return shared;
  return std::string();
}

}  // namespace

void GetWorkingFolder(size_t length, char* dest) {
  if (dest == nullptr || length == 0) return;
  std::string path = BaseFolder();
  StripTrailingSlashes(&path);
  if (path == "/") path.clear();
  path += '/';
  path += WorkingFolderName(IsProductRunning());
  CopyWorkingFolder(path, length, dest);
}

// The product exists only on Windows.
bool IsProductRegistered() { return false; }
bool IsProductWindowOpen() { return false; }
