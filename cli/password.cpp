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
#include "platform/catalog.h"
#include "platform/codepage.h"
#include "platform/console.h"
#include "platform/system_error.h"
#include "platform/text.h"

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

std::string TooLong() {
  return Format(Tr("암호가 %u 바이트보다 깁니다"), static_cast<unsigned>(kMaxPasswordBytes));
}

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
    *error = AppendSystemErrorText(Format(Tr("암호를 담은 파일 %s 을(를) 읽을 수 없습니다"), path.c_str()), status);
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
    *error = Tr("표준 입력에서 암호를 읽을 수 없습니다");
    return false;
  }
  return true;
}

const char kNoTerminal[] = N_(
    "암호가 없습니다: 물어볼 터미널이 없거나 읽지 못했습니다. --password-file 파일 또는 "
    "--password-stdin 을 주십시오");

// The text typed (UTF-8), asked for once or twice.
bool ReadFromTerminal(bool askTwice, std::string* line, std::string* error) {
  if (!ReadPasswordFromTerminal(Tr("암호: "), line)) {
    *error = Tr(kNoTerminal);
    return false;
  }
  if (!askTwice) return true;
  std::string repeated;
  StringWipe wipeRepeated(repeated);
  if (!ReadPasswordFromTerminal(Tr("암호 다시: "), &repeated)) {
    *error = Tr(kNoTerminal);
    return false;
  }
  if (repeated != *line) {
    *error = Tr("입력한 두 암호가 다릅니다. 아무것도 쓰지 않았습니다");
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
      *error = Tr("--password-encoding 에는 값(cp949)이 필요합니다");
      return OptionParse::Error;
    }
    if (value != "cp949" && value != "CP949") {
      *error = Format(Tr("알 수 없는 암호 인코딩 '%s' (쓸 수 있는 것은 cp949)"), value.c_str());
      return OptionParse::Error;
    }
    options->cp949 = true;
    return OptionParse::Taken;
  }
  if (options->source != PasswordOptions::Source::Prompt) {
    *error = Tr("암호는 한 가지로만 주십시오 (--password-file 또는 --password-stdin)");
    return OptionParse::Error;
  }
  if (name == "--password-stdin") {
    if (reader.HasJoinedValue()) {
      *error = Tr("--password-stdin 에는 값을 줄 수 없습니다");
      return OptionParse::Error;
    }
    options->source = PasswordOptions::Source::Stdin;
    return OptionParse::Taken;
  }
  if (!reader.TakeValue(&options->file)) {
    *error = Tr("--password-file 에는 파일 이름이 필요합니다");
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
        *error = Tr("--password-encoding cp949: 암호가 코드 페이지 949 로 나타낼 수 있는 글자가 아닙니다");
        return false;
      }
      Collect(typed.data(), typed.size(), buffer, &length);
      if (cp949Form && !options.cp949) {
        std::string alternate = Cp949PasswordBytes(line, kMaxPasswordBytes);
        StringWipe wipeAlternate(alternate);
        if (alternate != typed) cp949Form->Assign(alternate.data(), alternate.size());
      }
      if (length > kMaxPasswordBytes) {
        *error = TooLong();
        return false;
      }
      password->Assign(buffer, length);
      return true;
    }
  }
  if (!ok) return false;
  if (length > kMaxPasswordBytes) {
    *error = TooLong();
    return false;
  }
  password->Assign(buffer, length);
  if (options.cp949 && password->HasNonAscii()) {
    std::string in(password->c_str(), password->size()), out;
    StringWipe wipeIn(in), wipeOut(out);
    if (!Utf8ToCp949(in, &out)) {
      *error = Tr("--password-encoding cp949: 암호가 코드 페이지 949 로 나타낼 수 있는 UTF-8 글자가 아닙니다");
      return false;
    }
    if (out.size() > kMaxPasswordBytes) {
      *error = TooLong();
      return false;
    }
    password->Assign(out.data(), out.size());
  }
  return true;
}
