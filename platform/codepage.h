#pragma once
// Code page 949 (Korean Windows' ANSI code page) from and to UTF-8, and the bytes a
// typed password is hashed as.

#include <cstddef>
#include <string>
#include <vector>

// Exact conversions only: no look-alike or default character is ever substituted.
// On failure *out is empty.

// False when in is not valid UTF-8 or holds a character code page 949 lacks.
bool Utf8ToCp949(const std::string& in, std::string* out);
// False when in is not valid code page 949 text (a lone lead byte, an unassigned code).
bool Cp949ToUtf8(const std::string& in, std::string* out);

// One form of a typed text: the bytes of each of its characters as one encoding writes
// them, so that it can be cut without splitting a character. Its bytes are a password's:
// they are wiped when it goes.
class TextForm {
 public:
  TextForm() = default;
  ~TextForm();
  TextForm(const TextForm&) = delete;
  TextForm& operator=(const TextForm&) = delete;

  void AppendCharacter(const char* bytes, size_t length);
  const std::string& Bytes() const { return m_bytes; }
  size_t Characters() const { return m_ends.size(); }
  // How many whole characters fit in limit bytes.
  size_t CharactersWithin(size_t limit) const;
  // The bytes of the first n characters.
  size_t BytesOf(size_t characters) const { return characters == 0 ? 0 : m_ends[characters - 1]; }

 private:
  std::string m_bytes;
  std::vector<size_t> m_ends;  // where each character ends in m_bytes
};

// The length of the UTF-8 character that starts at text[at], or 0 when none valid starts
// there (overlong forms, surrogates and cut-off sequences are not characters).
size_t Utf8CharacterLength(const std::string& text, size_t at);

// The text (UTF-8) as it is. False when it is not valid UTF-8.
bool Utf8Form(const std::string& utf8, TextForm* form);

// The text in code page 949, character by character, exactly (no look-alike, no default
// character). False when it is not valid UTF-8 or a character is missing from code page
// 949; lacking (when given) then lists each such character once, in the order typed.
bool Cp949Form(const std::string& utf8, TextForm* form, std::string* lacking = nullptr);

// This system's ANSI code page (Windows); 0 where the system has none (Linux, browsers).
unsigned SystemAnsiCodePage();

// The text as this system's own password prompt turns it into bytes: Windows, its ANSI
// code page, with the system's look-alikes and default character where the code page
// lacks a character (what every container keyed on that system was keyed with); lacking
// (when given) lists each character that was not kept exactly, once. False where the
// system has no ANSI code page, or for text that is not valid UTF-8.
bool SystemAnsiForm(const std::string& utf8, TextForm* form, std::string* lacking = nullptr);

// The text (UTF-8) with every letter's case folded, as a file system that ignores letter
// case compares names (all of Unicode, as NTFS does, not ASCII alone). Text that is not
// UTF-8 is folded in its ASCII letters only.
std::string FoldLetterCase(const std::string& utf8);
