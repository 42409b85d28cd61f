#pragma once
// The language every text is shown in, decided once per process: Korean, the product's
// home language, where the user's language is Korean or none is set (the C and POSIX
// locales); English for every other. Windows asks the user's UI language (never the
// ANSI code page); elsewhere the environment is read in the order gettext reads it.

enum class Language { Korean, English };

Language UserLanguage();

#ifdef __EMSCRIPTEN__
// The browser build only: the page tells the engine its language (the browser's, or the
// one the user chose on the page); Korean until it does.
void SetPageLanguage(Language language);
#endif

// The POSIX rule on the environment's values (null or "" for a variable that is not
// set): the locale is the first set of LC_ALL, LC_MESSAGES and LANG; none, "C" or
// "POSIX" (with any suffix) gives Korean. Otherwise LANGUAGE, when set, lists languages
// in the user's order: the first that is Korean or English decides, and a list of only
// others gives English. Without LANGUAGE the locale decides.
Language LanguageFromEnvironment(const char* language, const char* lcAll, const char* lcMessages, const char* lang);
