#include "app/stale_plaintexts.h"

#include <vector>

#include "container/engines.h"
#include "platform/file_ops.h"
#include "platform/lock_file.h"

namespace {

const char kLockFileSuffix[] = ".qv3lock";

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() > suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A running viewer's lock names the file, or, for a partial output, the plaintext it
// was to become.
bool IsInARunsCare(const std::string& path) {
  if (IsLockFileHeld(LockFileFor(path).c_str())) return true;
  std::string plaintext;
  return OutputOfPartial(path, &plaintext) && IsLockFileHeld(LockFileFor(plaintext).c_str());
}

void RemoveUnlessInUse(const std::string& path) {
  // Read-only stops the removal and, on Windows, counts as in use: the plaintexts of the
  // engines all carry it.
  const bool readOnly = IsReadOnly(path.c_str());
  if (readOnly) SetReadOnly(path.c_str(), false);
  if (!IsFileInUse(path.c_str()) && DeletePath(path.c_str()) == 0) return;
  if (readOnly) SetReadOnly(path.c_str(), true);
}

}  // namespace

std::string LockFileFor(const std::string& plaintext) { return plaintext + kLockFileSuffix; }

void RemoveStalePlaintexts(const std::string& folder) {
  std::vector<std::string> names;
  if (!ListFiles(folder.c_str(), &names)) return;
  for (const std::string& name : names) {
    const std::string path = folder + kPathSeparator + name;
    if (IsInARunsCare(path)) continue;
    // A lock file is never read-only; a read-only file of that name is a plaintext.
    if (EndsWith(name, kLockFileSuffix) && !IsReadOnly(path.c_str()))
      RemoveUnheldLockFile(path.c_str());
    else
      RemoveUnlessInUse(path);
  }
}
