#include "container/folder_rule.h"

#include "container/naming.h"
#include "platform/catalog.h"

namespace {

struct KindRow {
  const char* name;
  const char* text;
};

// Indexed by FolderSkip.
const KindRow kKinds[kFolderSkipKinds] = {
    {"link", N_("링크")},
    {"device", N_("장치 파일")},
    {"socket", N_("소켓")},
    {"fifo", N_("FIFO(이름 있는 파이프)")},
    {"other-file-system", N_("다른 파일 시스템의 폴더")},
    {"container", N_("이미 암호 파일인 파일")},
    {"not-container", N_("암호 파일이 아닌 파일")},
    {"temporary", N_("출력의 임시 파일")},
};

}  // namespace

const char* FolderSkipName(FolderSkip kind) { return kKinds[static_cast<size_t>(kind)].name; }

const char* FolderSkipText(FolderSkip kind) { return kKinds[static_cast<size_t>(kind)].text; }

bool TakesFoundFile(FolderWork work, const std::string& name, FolderSkip* skip) {
  std::string output;
  if (OutputOfPartial(name, &output)) {
    *skip = FolderSkip::Temporary;
    return false;
  }
  const bool container = HasContainerExtension(name);
  if (work == FolderWork::Encrypt && container) {
    *skip = FolderSkip::Container;
    return false;
  }
  if (work == FolderWork::Decrypt && !container) {
    *skip = FolderSkip::NotContainer;
    return false;
  }
  return true;
}

std::string SkippedSummary(const FolderSkipCounts& counts) {
  std::string text;
  for (size_t kind = 0; kind < kFolderSkipKinds; ++kind) {
    if (counts[kind] == 0) continue;
    if (!text.empty()) text += ", ";
    text += Tr(kKinds[kind].text);
    text += " " + std::to_string(counts[kind]);
  }
  return text;
}
