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

std::string ComposeWorkingFolder(unsigned majorVersion, const std::string& tempFolder,
                                 const std::string& localAppData, bool productRegistered,
                                 bool productWindowOpen) {
  std::string base;
  if (majorVersion < 5 || localAppData.empty()) {
    base = tempFolder;
  } else {
    base = localAppData;
    // From version 6 on the sibling folder whose name ends in "Low": the name gains
    // the suffix directly, with no separator.
    if (majorVersion > 5) base += "Low";
  }
  std::vector<char> buffer(base.begin(), base.end());
  buffer.push_back('\0');
  StripTrailingBackslash(buffer.data());
  std::string result(buffer.data());
  result += (productRegistered && productWindowOpen) ? "\\QV31V" : "\\QV3V";
  return result;
}
