#include "container/password_choice.h"

#include <cstring>

#include "container/format.h"
#include "container/io.h"
#include "container/system_error_exception.h"
#include "platform/file_handle.h"

namespace {

// Undecided also for a container that cannot be read that far: the job will say why.
PasswordCheck TryKeyBlock(const std::string& path, const char* password, size_t length) {
  FileHandle file;
  if (file.Open(path.c_str(), FileMode::Read, Disposition::OpenExisting) != 0) return PasswordCheck::Undecided;
  FileSource source(file);
  try {
    return CheckPassword(source, path, password, length);
  } catch (const SystemErrorException&) {
    return PasswordCheck::Undecided;
  }
}

}  // namespace

bool AlternateOpensFirstContainer(const std::vector<std::string>& paths, const char* typed, size_t typedLength,
                                  const char* alternate, size_t alternateLength) {
  if (alternateLength == typedLength && std::memcmp(alternate, typed, typedLength) == 0) return false;
  for (const std::string& path : paths) {
    switch (TryKeyBlock(path, typed, typedLength)) {
      case PasswordCheck::Opens:
        return false;
      case PasswordCheck::Wrong:
        return TryKeyBlock(path, alternate, alternateLength) == PasswordCheck::Opens;
      case PasswordCheck::Undecided:
        break;
    }
  }
  return false;
}
