#include "platform/language.h"

#include <string>

namespace {

const char* FirstSet(const char* a, const char* b, const char* c) {
  for (const char* value : {a, b, c})
    if (value && *value) return value;
  return nullptr;
}

bool Names(const std::string& locale, const char* language) {
  const std::string code(language);
  return locale.compare(0, code.size(), code) == 0 &&
         (locale.size() == code.size() || locale[code.size()] == '_' || locale[code.size()] == '.' ||
          locale[code.size()] == '@');
}

}  // namespace

Language LanguageFromEnvironment(const char* language, const char* lcAll, const char* lcMessages, const char* lang) {
  const char* locale = FirstSet(lcAll, lcMessages, lang);
  if (!locale || Names(locale, "C") || Names(locale, "POSIX")) return Language::Korean;
  if (language && *language) {
    const std::string list(language);
    for (size_t at = 0; at <= list.size();) {
      size_t end = list.find(':', at);
      if (end == std::string::npos) end = list.size();
      const std::string entry = list.substr(at, end - at);
      if (Names(entry, "ko")) return Language::Korean;
      if (Names(entry, "en")) return Language::English;
      at = end + 1;
    }
    return Language::English;
  }
  return Names(locale, "ko") ? Language::Korean : Language::English;
}
