#include "platform/working_folder.h"

#include <vector>

#include "platform/mbstring.h"

char* StripTrailingBackslash(char* path) {
  // The search is multibyte-aware: a double-byte character's trail byte is never
  // taken for the backslash.
  if (char* last = const_cast<char*>(MbsRChr(path, '\\'))) {
    if (last[1] == '\0') *last = '\0';
  }
  return path;
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
