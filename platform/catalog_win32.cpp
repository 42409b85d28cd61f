#include <windows.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <unordered_map>

#include "platform/catalog.h"
#include "platform/language.h"
#include "platform/resources_win32.h"
#include "platform/wide_win32.h"

namespace {

struct TextId {
  const char* korean;
  UINT id;
};
// Every text of po/en.po with its string table identifier, sorted by the texts' bytes.
const TextId kTextIds[] = {
#include "text_ids.inc"
};

// The English texts, read from the string tables once.
const std::unordered_map<UINT, std::string>& English() {
  static const std::unordered_map<UINT, std::string> texts = [] {
    std::unordered_map<UINT, std::string> read;
    for (const TextId& text : kTextIds) read.emplace(text.id, Utf8(ResourceString(text.id)));
    return read;
  }();
  return texts;
}

}  // namespace

const char* Tr(const char* korean) {
  if (UserLanguage() == Language::Korean) return korean;
  const auto found = std::lower_bound(std::begin(kTextIds), std::end(kTextIds), korean,
                                      [](const TextId& t, const char* k) { return std::strcmp(t.korean, k) < 0; });
  if (found == std::end(kTextIds) || std::strcmp(found->korean, korean) != 0) return korean;
  const auto english = English().find(found->id);
  return english == English().end() || english->second.empty() ? korean : english->second.c_str();
}
