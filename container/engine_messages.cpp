#include "container/engines.h"

#include "platform/path.h"

std::string InputOpenFailureMessage(const std::string& path, bool encrypting) {
  switch (LookUpPath(path.c_str())) {
    case PathKind::Missing:
      return "입력 파일이 존재하지 않습니다.\r\n" + path;
    case PathKind::Directory:
      return (encrypting ? "디렉터리는 암호화할 수 없습니다.\r\n" : "디렉터리는 복호화할 수 없습니다.\r\n") + path;
    case PathKind::File:
      break;
  }
  return (encrypting ? "파일을 열 수 없습니다.\r\n" : "파일을 읽을 수 없습니다.\r\n") + path;
}
