#include "container/password_choice.h"

#include "container/format.h"
#include "container/io.h"
#include "container/naming.h"
#include "container/system_error_exception.h"
#include "platform/file_handle.h"
#include "platform/path.h"

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

bool CheckBeforePassword(const std::string& path, Failure* failure) {
  FileHandle file;
  const uint32_t status = file.Open(path.c_str(), FileMode::Read, Disposition::OpenExisting);
  if (status != 0 && LookUpPath(path.c_str()) != PathKind::File) {
    *failure = InputOpenFailure(path, false, status);
    return false;
  }
  if (!HasContainerExtension(path)) {
    *failure = {FailureKind::NotAContainerName, 0, path};
    return false;
  }
  if (status != 0) {
    *failure = InputOpenFailure(path, false, status);
    return false;
  }
  FileSource source(file);
  try {
    ContainerReader(source, path).ReadLayout();
  } catch (const SystemErrorException& e) {
    *failure = e.m_failure;
    return false;
  }
  return true;
}

bool OpensWithoutPassword(const std::vector<std::string>& paths) {
  for (const std::string& path : paths)
    if (!HasCategoryExtension(path) || !EmptyPasswordOpens(path)) return false;
  return !paths.empty();
}
