#pragma once
// Which bytes a password is: the one rule every front end (both viewers, qv3, the site's
// engine) calls. A container is keyed with the bytes of its password as the system that
// made it wrote them; a Korean Windows system, the home of most containers, writes code
// page 949. So a typed text is tried, per container, as each form it may have been keyed
// with, and a new container is keyed with the form a Korean Windows system would type.

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// What the desktop viewers' password prompts take of what is typed, in bytes of the form
// hashed: every container a user is to open by typing its password must have been keyed
// with at most this many.
constexpr size_t kPromptPasswordBytes = 11;

// The byte strings to try, in order, without duplicates; wiped when they go.
class PasswordCandidates {
 public:
  PasswordCandidates() = default;
  ~PasswordCandidates();
  PasswordCandidates(const PasswordCandidates& other) : m_items(other.m_items) {}
  PasswordCandidates(PasswordCandidates&& other) noexcept : m_items(std::move(other.m_items)) {}
  PasswordCandidates& operator=(PasswordCandidates&& other) noexcept;
  PasswordCandidates& operator=(const PasswordCandidates&) = delete;

  // Appended unless the same bytes are there already.
  void Add(const char* bytes, size_t length);
  void Add(const std::string& bytes) { Add(bytes.data(), bytes.size()); }
  size_t Count() const { return m_items.size(); }
  bool Empty() const { return m_items.empty(); }
  const std::string& operator[](size_t i) const { return m_items[i]; }
  // The longest, in bytes (0 when there are none).
  size_t LongestBytes() const;

 private:
  std::vector<std::string> m_items;
};

// How much of a typed text a form keeps: a desktop prompt takes its first 11 bytes, never
// half a character; qv3 also tries the whole text after them, for containers made with a
// longer password.
enum class TypedLength { Prompt, AlsoWhole };

// The forms a typed text (UTF-8) may have been keyed with, in the order they are tried:
// this system's own (Windows: the ANSI code page exactly as its own prompt converts,
// substitutions included; elsewhere code page 949 where it holds every character, else
// UTF-8), then code page 949 (where it holds every character), then UTF-8 (what earlier
// Linux and site builds keyed with); each cut to 11 bytes of that form without splitting
// a character. Empty for an empty text.
PasswordCandidates OpeningCandidates(const std::string& typed, TypedLength length = TypedLength::Prompt);

// A password given as bytes (a file, standard input, a library's caller): the bytes as
// given first; then, when they are UTF-8 text, the opening candidates of that text.
PasswordCandidates GivenPasswordCandidates(const std::string& bytes);

// What one container is tried with: the empty password first where its name carries a
// category extension (what the writers make with the empty password), then passwords.
PasswordCandidates CandidatesForContainer(const std::string& path, const PasswordCandidates& passwords);

// The one form a new container is keyed with, or why there is none.
struct NewPassword {
  bool accepted = false;
  std::string bytes;        // the form, cut to the limit without splitting a character
  std::string lacking;      // refused: the characters no form can keep (UTF-8, each once)
  size_t typedCharacters = 0;
  size_t keptCharacters = 0;  // of the typed ones, how many the bytes hold
  size_t wholeBytes = 0;      // the form's length before the cut
  ~NewPassword();
};

// Windows: the ANSI code page's form where it holds every character exactly, else code
// page 949's where that does (so a Korean password made on any Windows opens on a Korean
// one); elsewhere code page 949's. Refused when neither holds every character (and for
// text that is not UTF-8). limit: the bytes kept (kPromptPasswordBytes on the desktop).
NewPassword MakingPassword(const std::string& typed, size_t limit);

// The refusal of a new password, naming the characters no form can keep.
std::string NewPasswordRefusal(const NewPassword& made);

// The encryption prompts' line on what counts of what is typed: the general rule while
// everything typed counts, else how many of the typed characters count, or the refusal.
std::string NewPasswordHint(const std::string& typed);

// The same line for a field that opens containers: how many of the typed characters the
// first form tried (OpeningCandidates) keeps, else the general rule.
std::string OpeningPasswordHint(const std::string& typed);
