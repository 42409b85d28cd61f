#include "cli/container_file.h"

#include "container/system_error_exception.h"
#include "crypto/file_handle.h"
#include "platform/path.h"

void OpenContainer(const std::string& path, FileHandle* file) {
  const uint32_t status = file->Open(path.c_str(), FileMode::Read, Disposition::OpenExisting);
  if (status == 0) return;
  const PathKind kind = LookUpPath(path.c_str());
  const char* prefix = kind == PathKind::Missing ? "입력 파일이 존재하지 않습니다.\r\n"
                       : kind == PathKind::Directory ? "디렉터리는 복호화할 수 없습니다.\r\n"
                                                     : "파일을 읽을 수 없습니다.\r\n";
  throw SystemErrorException(prefix + path, status);
}
