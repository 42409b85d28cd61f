#pragma once
// Every text a user reads is written in the code in Korean and shown in the user's
// language (UserLanguage()). Its English twin is in po/en.po, the one place where the
// translations live: the Windows programs carry it as string tables generated from it
// (and their dialog templates in both languages); elsewhere it is built into gettext's
// catalog, share/locale/en/LC_MESSAGES/tarvessin.mo, found from the program's folder
// (PROGRAM/../share/locale, so both the build tree and an installation work) or under
// the installation's locale folder.
//
// Texts are marked for the catalog where they are written: Tr("…") where one is shown
// at once, N_("…") for a constant that is shown later through Tr. Texts built from parts
// translate the fixed parts only; what the system says stays in its own language.

#include <cstdint>
#include <string>
#include <unordered_map>

#define N_(text) text

// The text in the user's language: Korean as it is (the same pointer); English from the
// catalog (a text that lives as long as the process), or, should the catalog lack it
// or be missing, the Korean text. Safe from any thread.
const char* Tr(const char* korean);
inline std::string Tr(const std::string& korean) { return Tr(korean.c_str()); }

// A gettext message catalog (.mo) in memory: each original text and its translation.
class MessageCatalog {
 public:
  // False when bytes are not a catalog (nothing is taken then).
  bool Parse(const std::string& bytes);
  // The translation of original, or null.
  const char* Find(const char* original) const;
  size_t Size() const { return m_texts.size(); }

 private:
  std::unordered_map<std::string, std::string> m_texts;
};
