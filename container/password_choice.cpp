#include "container/password_choice.h"

#include "container/format.h"
#include "container/io.h"
#include "container/naming.h"
#include "container/system_error_exception.h"
#include "platform/file_handle.h"

namespace {

bool EmptyPasswordOpens(const std::string& path) {
  FileHandle file;
  if (file.Open(path.c_str(), FileMode::Read, Disposition::OpenExisting) != 0) return false;
  FileSource source(file);
  try {
    return CheckPassword(source, path, "", 0) == PasswordCheck::Opens;
  } catch (const SystemErrorException&) {
    return false;
  }
}

}  // namespace

bool OpensWithoutPassword(const std::vector<std::string>& paths) {
  for (const std::string& path : paths)
    if (!HasCategoryExtension(path) || !EmptyPasswordOpens(path)) return false;
  return !paths.empty();
}
