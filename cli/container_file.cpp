#include "cli/container_file.h"

#include "container/failure.h"
#include "container/system_error_exception.h"
#include "platform/file_handle.h"

void OpenContainer(const std::string& path, FileHandle* file) {
  const uint32_t status = file->Open(path.c_str(), FileMode::Read, Disposition::OpenExisting);
  if (status == 0) return;
  throw SystemErrorException(InputOpenFailure(path, false, status));
}
