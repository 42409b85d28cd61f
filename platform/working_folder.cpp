#include "platform/working_folder.h"

#include <cstring>
#include <vector>

#include "platform/text.h"

char* StripTrailingBackslash(char* path) {
  if (char* last = std::strrchr(path, '\\')) {
    if (last[1] == '\0') *last = '\0';
  }
  return path;
}

void CopyWorkingFolder(const std::string& path, size_t length, char* dest) {
  if (dest == nullptr || length == 0) return;
  const std::string cut = CutUtf8(path, length - 1);
  std::memcpy(dest, cut.data(), cut.size());
  dest[cut.size()] = '\0';
}

std::string WorkingFolder() {
  char folder[520] = {};
  GetWorkingFolder(sizeof folder, folder);
  return folder;
}

bool IsProductRunning() { return IsProductRegistered() && IsProductWindowOpen(); }

const char* WorkingFolderName(bool productRunning) { return productRunning ? "QV31V" : "QV3V"; }

std::string ComposeWorkingFolder(const std::string& tempFolder, const std::string& localAppData,
                                 bool productRunning) {
  // The sibling folder whose name ends in "Low": the name gains the suffix directly,
  // with no separator.
  std::string base = localAppData.empty() ? tempFolder : localAppData + "Low";
  std::vector<char> buffer(base.begin(), base.end());
  buffer.push_back('\0');
  StripTrailingBackslash(buffer.data());
  std::string result(buffer.data());
  result += '\\';
  result += WorkingFolderName(productRunning);
  return result;
}
