#include "platform/path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <vector>

PathKind LookUpPath(const char* path) {
  struct stat st {};
  if (stat(path, &st) != 0) return PathKind::Missing;
  return S_ISDIR(st.st_mode) ? PathKind::Directory : PathKind::File;
}

bool PathExists(const char* path) {
  struct stat st {};
  return stat(path, &st) == 0;
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  std::vector<char> folder(4096);
  while (!getcwd(folder.data(), folder.size())) {
    if (errno != ERANGE) return path;  // no current folder to go by: the name as given
    folder.resize(folder.size() * 2);
  }
  std::string absolute(folder.data());
  if (absolute.empty() || absolute.back() != '/') absolute += '/';
  return absolute + path;
}
