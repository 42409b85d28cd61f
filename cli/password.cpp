#include "cli/password.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "cli/container_file.h"
#include "container/format.h"
#include "container/io.h"
#include "container/system_error_exception.h"
#include "platform/file_handle.h"
#include "crypto/secure.h"
#include "platform/codepage.h"
#include "platform/console.h"
#include "platform/system_error.h"

namespace {

// Wipes a std::string's bytes when the scope ends.
class StringWipe {
 public:
  explicit StringWipe(std::string& s) : m_s(s) {}
  ~StringWipe() {
    if (!m_s.empty()) SecureWipe(&m_s[0], m_s.size());
  }
  StringWipe(const StringWipe&) = delete;
  StringWipe& operator=(const StringWipe&) = delete;

 private:
  std::string& m_s;
};

const std::string kTooLong =
    "the password is longer than " + std::to_string(kMaxPasswordBytes) + " bytes";

bool IsTerminator(char c) { return c == '\0' || c == '\r' || c == '\n'; }

// Collects bytes up to the first terminator into buffer (room for kMaxPasswordBytes + 1,
// so that a longer password is noticed). Returns true once a terminator was seen.
bool Collect(const char* data, size_t count, char* buffer, size_t* length) {
  for (size_t i = 0; i < count; ++i) {
    if (IsTerminator(data[i])) return true;
    if (*length <= kMaxPasswordBytes) buffer[*length] = data[i];
    ++*length;
  }
  return false;
}

bool ReadFromFile(const std::string& path, char* buffer, size_t* length, std::string* error) {
  FileHandle file;
  uint32_t status = file.Open(path.c_str(), FileMode::Read, Disposition::OpenExisting);
  char chunk[512];
  ScopedWipe wipe(chunk, sizeof chunk);
  while (status == 0) {
    uint32_t got = 0;
    status = file.Read(chunk, sizeof chunk, &got);
    if (status != 0 || got == 0) break;
    if (Collect(chunk, got, buffer, length)) break;
  }
  if (status != 0) {
    *error = AppendSystemErrorText("cannot read the password file " + path, status);
    return false;
  }
  return true;
}

bool ReadFromStdin(char* buffer, size_t* length, std::string* error) {
  for (;;) {
    const int c = std::getc(stdin);
    if (c == EOF) break;
    const char byte = static_cast<char>(c);
    if (Collect(&byte, 1, buffer, length)) break;
  }
  if (std::ferror(stdin)) {
    *error = "cannot read the password from standard input";
    return false;
  }
  return true;
}

const char kNoTerminal[] =
    "no password: there is no terminal to ask for it, or reading it failed; "
    "give --password-file FILE or --password-stdin";

// The text typed (UTF-8), asked for once or twice.
bool ReadFromTerminal(bool askTwice, std::string* line, std::string* error) {
  if (!ReadPasswordFromTerminal("Password: ", line)) {
    *error = kNoTerminal;
    return false;
  }
  if (!askTwice) return true;
  std::string repeated;
  StringWipe wipeRepeated(repeated);
  if (!ReadPasswordFromTerminal("Repeat password: ", &repeated)) {
    *error = kNoTerminal;
    return false;
  }
  if (repeated != *line) {
    *error = "the two passwords typed differ; nothing was written";
    return false;
  }
  return true;
}


}  // namespace

Password::~Password() { SecureWipe(m_bytes, sizeof m_bytes); }

void Password::Assign(const char* bytes, size_t length) {
  SecureWipe(m_bytes, sizeof m_bytes);
  m_length = length < kMaxPasswordBytes ? length : kMaxPasswordBytes;
  std::memcpy(m_bytes, bytes, m_length);
}

bool Password::HasNonAscii() const {
  for (size_t i = 0; i < m_length; ++i) {
    if (static_cast<unsigned char>(m_bytes[i]) >= 0x80) return true;
  }
  return false;
}

OptionParse ParsePasswordOption(ArgReader& reader, PasswordOptions* options, std::string* error) {
  const std::string& name = reader.Current();
  if (name != "--password-file" && name != "--password-stdin" && name != "--password-encoding")
    return OptionParse::NotPassword;
  if (name == "--password-encoding") {
    std::string value;
    if (!reader.TakeValue(&value)) {
      *error = "--password-encoding needs a value (cp949)";
      return OptionParse::Error;
    }
    if (value != "cp949" && value != "CP949") {
      *error = "unknown password encoding '" + value + "' (the one offered is cp949)";
      return OptionParse::Error;
    }
    options->cp949 = true;
    return OptionParse::Taken;
  }
  if (options->source != PasswordOptions::Source::Prompt) {
    *error = "give the password one way only (--password-file or --password-stdin)";
    return OptionParse::Error;
  }
  if (name == "--password-stdin") {
    if (reader.HasJoinedValue()) {
      *error = "--password-stdin takes no value";
      return OptionParse::Error;
    }
    options->source = PasswordOptions::Source::Stdin;
    return OptionParse::Taken;
  }
  if (!reader.TakeValue(&options->file)) {
    *error = "--password-file needs a file name";
    return OptionParse::Error;
  }
  options->source = PasswordOptions::Source::File;
  return OptionParse::Taken;
}

bool ObtainPassword(const PasswordOptions& options, Password* password, std::string* error,
                    Password* cp949Form) {
  char buffer[kMaxPasswordBytes + 1];
  ScopedWipe wipe(buffer, sizeof buffer);
  size_t length = 0;
  bool ok = false;
  switch (options.source) {
    case PasswordOptions::Source::File:
      ok = ReadFromFile(options.file, buffer, &length, error);
      break;
    case PasswordOptions::Source::Stdin:
      ok = ReadFromStdin(buffer, &length, error);
      break;
    case PasswordOptions::Source::Prompt: {
      // Typed text: hashed as the bytes this system's viewer would take for it, with the
      // code page 949 form beside it for containers keyed on Korean Windows.
      std::string line;
      StringWipe wipeLine(line);
      ok = ReadFromTerminal(options.askTwice, &line, error);
      if (!ok) break;
      std::string typed = options.cp949 ? Cp949PasswordBytes(line, SIZE_MAX) : TypedPasswordBytes(line, SIZE_MAX);
      StringWipe wipeTyped(typed);
      if (options.cp949 && typed.empty() && !line.empty()) {
        *error = "--password-encoding cp949: the password is not text that code page 949 can hold";
        return false;
      }
      Collect(typed.data(), typed.size(), buffer, &length);
      if (cp949Form && !options.cp949) {
        std::string alternate = Cp949PasswordBytes(line, kMaxPasswordBytes);
        StringWipe wipeAlternate(alternate);
        if (alternate != typed) cp949Form->Assign(alternate.data(), alternate.size());
      }
      if (length > kMaxPasswordBytes) {
        *error = kTooLong;
        return false;
      }
      password->Assign(buffer, length);
      return true;
    }
  }
  if (!ok) return false;
  if (length > kMaxPasswordBytes) {
    *error = kTooLong;
    return false;
  }
  password->Assign(buffer, length);
  if (options.cp949 && password->HasNonAscii()) {
    std::string in(password->c_str(), password->size()), out;
    StringWipe wipeIn(in), wipeOut(out);
    if (!Utf8ToCp949(in, &out)) {
      *error =
          "--password-encoding cp949: the password is not UTF-8 text that code page 949 can hold";
      return false;
    }
    if (out.size() > kMaxPasswordBytes) {
      *error = kTooLong;
      return false;
    }
    password->Assign(out.data(), out.size());
  }
  return true;
}
