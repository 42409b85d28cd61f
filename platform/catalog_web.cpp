#include <algorithm>
#include <cstring>
#include <iterator>

#include "platform/catalog.h"
#include "platform/language.h"

namespace {

struct Translation {
  const char* korean;
  const char* english;
};
// Every text of po/en.po with its English, sorted by the Korean text's bytes: the engine
// carries its catalog (a page has no folder to find one in).
const Translation kTranslations[] = {
#include "translations.inc"
};

}  // namespace

const char* Tr(const char* korean) {
  if (UserLanguage() == Language::Korean) return korean;
  const auto found =
      std::lower_bound(std::begin(kTranslations), std::end(kTranslations), korean,
                       [](const Translation& t, const char* k) { return std::strcmp(t.korean, k) < 0; });
  return found != std::end(kTranslations) && std::strcmp(found->korean, korean) == 0 && *found->english
             ? found->english
             : korean;
}
