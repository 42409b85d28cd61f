#include <atomic>

#include "platform/language.h"

namespace {
std::atomic<Language> g_language{Language::Korean};
}  // namespace

Language UserLanguage() { return g_language.load(); }

void SetPageLanguage(Language language) { g_language.store(language); }
