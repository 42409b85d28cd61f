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


const char kEmptyFrom[] =
    N_("암호를 읽을 수 없습니다: %s 에서 빈 암호가 왔습니다 (빈 암호를 뜻한다면 --empty-password 를 주십시오)");
const char kNotEmpty[] = N_("--empty-password 를 주었는데 %s 의 암호가 비어 있지 않습니다. 아무것도 쓰지 않았습니다");

std::string Where(const PasswordOptions& options) {
  return options.source == PasswordOptions::Source::File ? Format(Tr("암호를 담은 파일 %s"), options.file.c_str())
                                                          : std::string(Tr("표준 입력"));
}

}  // namespace

GivenPassword::~GivenPassword() {
  if (!bytes.empty()) SecureWipe(&bytes[0], bytes.size());
}

OptionParse ParsePasswordOption(ArgReader& reader, PasswordOptions* options, std::string* error) {
  const std::string& name = reader.Current();
  if (name == "--empty-password" && !reader.HasJoinedValue()) {
    options->empty = true;
    return OptionParse::Taken;
  }
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

bool ObtainPassword(const PasswordOptions& options, GivenPassword* password, std::string* error) {
  password->typed = false;
  if (!password->bytes.empty()) SecureWipe(&password->bytes[0], password->bytes.size());
  password->bytes.clear();
  char buffer[kMaxPasswordBytes + 1];
  ScopedWipe wipe(buffer, sizeof buffer);
  size_t length = 0;
  switch (options.source) {
    case PasswordOptions::Source::Prompt:
      if (options.empty) return true;  // the empty password, asked of nobody
      password->typed = true;
      if (!ReadFromTerminal(options.askTwice, &password->bytes, error)) return false;
      if (password->bytes.size() > kMaxPasswordBytes) {
        *error = TooLong();
        return false;
      }
      if (password->bytes.empty()) {
        *error = Format(Tr(kEmptyFrom), Tr("터미널"));
        return false;
      }
      return true;
    case PasswordOptions::Source::File:
      if (!ReadFromFile(options.file, buffer, &length, error)) return false;
      break;
    case PasswordOptions::Source::Stdin:
      if (!ReadFromStdin(buffer, &length, error)) return false;
      break;
  }
  if (length > kMaxPasswordBytes) {
    *error = TooLong();
    return false;
  }
  if (length == 0 && !options.empty) {
    *error = Format(Tr(kEmptyFrom), Where(options).c_str());
    return false;
  }
  if (length > 0 && options.empty) {
    *error = Format(Tr(kNotEmpty), Where(options).c_str());
    return false;
  }
  password->bytes.assign(buffer, length);
  return true;
}

bool ConvertToCp949(GivenPassword* password, std::string* error) {
  std::string converted;
  StringWipe wipe(converted);
  if (!Utf8ToCp949(password->bytes, &converted)) {
    *error = Tr(password->typed ? N_("--password-encoding cp949: 암호가 코드 페이지 949 로 나타낼 수 있는 글자가 아닙니다")
                                : N_("--password-encoding cp949: 암호가 코드 페이지 949 로 나타낼 수 있는 UTF-8 글자가 "
                                     "아닙니다"));
    return false;
  }
  if (converted.size() > kMaxPasswordBytes) {
    *error = TooLong();
    return false;
  }
  password->bytes.swap(converted);
  return true;
}
