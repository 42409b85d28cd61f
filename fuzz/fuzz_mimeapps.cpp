// libFuzzer target: the user's mimeapps.list as registration edits it
// (EditMimeApps, association/xdg_association.h), read back as a desktop reads it
// (MimeAppsDefaults).
//
// The input is the file's text; its length picks the MIME type. What must hold:
// - set: the desktop's reading of the result names the viewer first; setting again
//   changes nothing;
// - unset after set: the reading no longer names the viewer; unsetting again changes
//   nothing; a text that named no viewer anywhere comes back byte for byte (unless its
//   first [Default Applications] group held nothing but blank lines: the group the
//   viewer's line was put in is then taken away with it);
// - unset on any text: a text that does not name the viewer is returned unchanged.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "association/xdg_applications.h"
#include "association/xdg_association.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Whether the first [Default Applications] group exists and holds only blank lines.
bool FirstGroupIsBlank(const std::string& text) {
  bool inGroup = false;
  size_t at = 0;
  while (at <= text.size()) {
    const size_t newline = std::min(text.find('\n', at), text.size());
    const std::string line = Trim(text.substr(at, newline - at));
    at = newline + 1;
    if (!inGroup) {
      inGroup = line == "[Default Applications]";
      continue;
    }
    if (!line.empty() && line[0] == '[') return true;
    if (!line.empty()) return false;
  }
  return inGroup;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kTypes[] = {kContainerMimeType, kAesEncryptedMimeType, "text/plain"};
  const std::string type = kTypes[size % 3];
  const std::string id = kViewerDesktopId;
  const std::string text(reinterpret_cast<const char*>(data), size);

  const std::string set = EditMimeApps(text, type, id, true);
  const std::vector<std::string> named = MimeAppsDefaults(set, type);
  Check(!named.empty() && named[0] == id);
  Check(EditMimeApps(set, type, id, true) == set);

  const std::string unset = EditMimeApps(set, type, id, false);
  for (const std::string& other : MimeAppsDefaults(unset, type)) Check(other != id);
  Check(EditMimeApps(unset, type, id, false) == unset);
  if (text.find(id) == std::string::npos) {
    Check(EditMimeApps(text, type, id, false) == text);
    Check(unset == text || FirstGroupIsBlank(text));
  }
  return 0;
}
