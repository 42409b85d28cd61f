#include <cstdlib>

#include "platform/language.h"

Language UserLanguage() {
  static const Language language = LanguageFromEnvironment(std::getenv("LANGUAGE"), std::getenv("LC_ALL"),
                                                           std::getenv("LC_MESSAGES"), std::getenv("LANG"));
  return language;
}
