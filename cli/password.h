#pragma once
// The password of a decrypt or encrypt command: its options and reading it. Which bytes
// it stands for is the password rule's (container/password_rule.h).

#include <cstddef>
#include <string>

#include "cli/args.h"

// The longest password accepted, in bytes (what a job holds).
constexpr size_t kMaxPasswordBytes = 256;

struct PasswordOptions {
  enum class Source { Prompt, File, Stdin };
  Source source = Source::Prompt;
  std::string file;
  bool cp949 = false;     // --password-encoding cp949
  bool empty = false;     // --empty-password
  bool askTwice = false;  // typed at the terminal: asked again, and the two must match
};

// What was given: a text typed at the terminal (UTF-8), or bytes from a file or standard
// input, exactly. Wiped when it goes.
struct GivenPassword {
  bool typed = false;
  std::string bytes;
  ~GivenPassword();
};

enum class OptionParse { NotPassword, Taken, Error };

// Takes the current argument of reader when it is a password option. On Error, *error
// holds the text for the user.
OptionParse ParsePasswordOption(ArgReader& reader, PasswordOptions* options, std::string* error);

// Reads the password as options say: from the file or standard input (the bytes up to
// the first NUL, CR or LF, kept exactly), or asked on the terminal without echo, once or
// (askTwice) twice. --empty-password alone is the empty password, asked of nobody;
// beside a file or standard input it says that the empty password there is meant, and a
// non-empty one there is refused. False with *error set for a usage-style failure
// (unreadable, too long, no terminal, the two typed differ, an empty password not meant).
bool ObtainPassword(const PasswordOptions& options, GivenPassword* password, std::string* error);

// --password-encoding cp949: the given text's code page 949 bytes (a typed text's whole,
// not cut). False with *error when it is not text that code page holds.
bool ConvertToCp949(GivenPassword* password, std::string* error);
