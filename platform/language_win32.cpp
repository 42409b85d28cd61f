#include <windows.h>

#include "platform/language.h"

Language UserLanguage() {
  static const Language language =
      PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_KOREAN ? Language::Korean : Language::English;
  return language;
}
