#pragma once
// The password of a decrypt or encrypt command: its options, reading it, and the code
// page 949 form that containers made on Korean Windows systems were keyed with.

#include <cstddef>
#include <string>
#include <vector>

#include "cli/args.h"

// The longest password accepted, in bytes (what a job holds).
constexpr size_t kMaxPasswordBytes = 256;

struct PasswordOptions {
  enum class Source { Prompt, File, Stdin };
  Source source = Source::Prompt;
  std::string file;
  bool cp949 = false;     // --password-encoding cp949
  bool askTwice = false;  // typed at the terminal: asked again, and the two must match
};

// Holds password bytes and wipes them when it goes.
class Password {
 public:
  Password() = default;
  ~Password();
  Password(const Password&) = delete;
  Password& operator=(const Password&) = delete;

  // Replaces the bytes (at most kMaxPasswordBytes), wiping the old ones.
  void Assign(const char* bytes, size_t length);
  const char* c_str() const { return m_bytes; }
  size_t size() const { return m_length; }
  bool HasNonAscii() const;

 private:
  char m_bytes[kMaxPasswordBytes + 1] = {};
  size_t m_length = 0;
};

enum class OptionParse { NotPassword, Taken, Error };

// Takes the current argument of reader when it is a password option. On Error, *error
// holds the text for the user.
OptionParse ParsePasswordOption(ArgReader& reader, PasswordOptions* options, std::string* error);

// Reads the password as options say: from the file or standard input (the bytes up to
// the first NUL, CR or LF, kept exactly), or asked on the terminal without echo, once or
// (askTwice) twice, and hashed as the bytes this system's viewer takes for the text
// typed (TypedPasswordBytes: UTF-8 here, the ANSI code page on Windows); then converted
// to code page 949 when options ask for it. For a typed password cp949Form (when given)
// receives its code page 949 form where that differs, else stays empty. False with
// *error set for a usage-style failure (unreadable, too long, no terminal, the two typed
// differ, not convertible).
bool ObtainPassword(const PasswordOptions& options, Password* password, std::string* error,
                    Password* cp949Form = nullptr);

