#include "container/failure.h"

#include "platform/catalog.h"
#include "platform/path.h"

namespace {
const char* const kTooSmallSuffix = N_("\r\n 파일이 너무 작습니다.");
}  // namespace

FailureMessage MessageFor(FailureKind kind) {
  // Every text of the system's boxes, byte for byte: the stray spaces and the lone "\n"
  // of some of them are the system's own.
  switch (kind) {
    case FailureKind::SizeUnknown: return {N_("다음 파일의 크기를 가늠할 수 없습니다.\r\n"), ""};
    case FailureKind::TooSmall: return {N_("엉뚱한 파일 \r\n"), kTooSmallSuffix};
    case FailureKind::TooSmallV2: return {N_("엉뚱한 파일\r\n"), kTooSmallSuffix};
    case FailureKind::HeadUnreadable: return {N_("다음 파일을 읽을 수 없습니다.\r\n"), ""};
    case FailureKind::BadSignature: return {N_("엉뚱한 파일 \r\n"), N_("\n 서명이 틀립니다.")};
    case FailureKind::BadVersion: return {N_("엉뚱한 파일 \r\n"), N_("\r\n 지원하지 않는 버전입니다.")};
    case FailureKind::ExtensionLengthUnreadable: return {N_("다음 파일을 읽을 수 없습니다.\r\n"), ""};
    case FailureKind::ExtensionUnreadable: return {N_("파일을 읽을 수 없습니다.\r\n "), ""};
    case FailureKind::BadCipherLength: return {N_("엉뚱한 파일\r\n"), N_("\n 파일 내용이 잘못되었습니다.")};
    case FailureKind::Unreadable: return {N_("파일을 읽을 수 없습니다.\r\n"), ""};
    case FailureKind::KeyBlockMac:
      return {N_("파일에 오류가 있습니다.\r\n"), N_("\r\n파일이 수정되었거나 암호가 틀립니다.")};
    case FailureKind::BulkMacV0:
      return {N_("파일에 오류가 있습니다.\r\n"), N_("\r\n파일이 수정되었거나 암호가 다릅니다.")};
    case FailureKind::BulkMac:
      return {N_("파일에 오류가 있습니다.\r\n"), N_("\r\n파일이 수정되어 신뢰할 수 없습니다.")};
    case FailureKind::WriteFailed: return {N_("파일을 쓸 수 없습니다.\r\n"), ""};
    case FailureKind::KeyBlockWriteFailed: return {N_("파일을 쓸 수 없습니다.\n"), ""};
    case FailureKind::NextWriteFailed: return {N_("다음 파일을 쓸 수 없습니다.\r\n"), ""};
    case FailureKind::InvalidName: return {N_("잘못된 파일명입니다.\r\n"), ""};
    case FailureKind::OddName: return {N_("엉뚱한 파일명입니다.\r\n"), ""};
    case FailureKind::NotAContainerName:
      return {N_("암호 파일의 이름이 아닙니다.\r\n"), N_("\r\n이름이 .aqv3 또는 .pqv3 … .zqv3 로 끝나야 합니다.")};
    case FailureKind::InputMissing: return {N_("입력 파일이 존재하지 않습니다.\r\n"), ""};
    case FailureKind::DirectoryNotDecrypted: return {N_("디렉터리는 복호화할 수 없습니다.\r\n"), ""};
    case FailureKind::DirectoryNotEncrypted: return {N_("디렉터리는 암호화할 수 없습니다.\r\n"), ""};
    case FailureKind::InputNotOpened: return {N_("파일을 열 수 없습니다.\r\n"), ""};
    case FailureKind::OutputNotCreated: return {N_("파일을 생성할 수 없습니다.\r\n"), ""};
    case FailureKind::OutputNotOpened: return {N_("출력 파일을 열 수 없습니다.\r\n"), ""};
    case FailureKind::PartialNamesTaken:
      return {N_("임시 파일을 만들 수 없습니다. 다음 이름과 그 뒤에 번호를 붙인 이름이 모두 쓰이고 있습니다.\r\n"), ""};
    case FailureKind::SourceNotDeleted:
      return {N_("원래 파일을 지울 수 없습니다. 만든 파일은 남아 있습니다.\r\n"), ""};
    case FailureKind::SourceIsLink:
      return {N_("링크는 지우지 않습니다(--delete-source). 아무것도 하지 않았습니다.\r\n"), ""};
    case FailureKind::NoCryptoProvider: return {N_("암호화 모듈을 사용할 수 없습니다."), ""};
    case FailureKind::NoRandomBytes: return {N_("난수를 생성할 수 없습니다."), ""};
    case FailureKind::MemoryAllocation: return {N_("Memory allocation failed"), ""};
    case FailureKind::ThreadCreation: return {N_("Thread creation failed"), ""};
  }
  return {"", ""};
}

std::string FailureText(const Failure& failure) {
  const FailureMessage m = MessageFor(failure.kind);
  return Tr(m.prefix) + failure.path + Tr(m.suffix);
}

Failure InputOpenFailure(const std::string& path, bool encrypting, uint32_t code) {
  switch (LookUpPath(path.c_str())) {
    case PathKind::Missing:
      return {FailureKind::InputMissing, code, path};
    case PathKind::Directory:
      return {encrypting ? FailureKind::DirectoryNotEncrypted : FailureKind::DirectoryNotDecrypted, code, path};
    case PathKind::File:
      break;
  }
  return {encrypting ? FailureKind::InputNotOpened : FailureKind::Unreadable, code, path};
}
