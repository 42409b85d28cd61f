#include "container/output_file.h"

#include "container/front_end.h"
#include "container/naming.h"
#include "platform/catalog.h"
#include "platform/text.h"
#include "platform/system_error.h"

uint32_t OutputFile::Create(FileHandle& file) {
  uint32_t status = 0;
  m_allTaken = false;
  for (unsigned attempt = 1; attempt <= kPartialAttempts; ++attempt) {
    const std::string candidate = PartialPath(m_final, attempt);
    status = file.Open(candidate.c_str(), FileMode::Write, Disposition::CreateNewPrivate);
    // What a dead run left there goes; then the name is ours to take.
    if (status != 0 && NameTaken(candidate.c_str()) && RemoveAbandonedFile(candidate.c_str())) {
      m_reclaimed.push_back(candidate);
      status = file.Open(candidate.c_str(), FileMode::Write, Disposition::CreateNewPrivate);
    }
    if (status == 0) {
      m_temporary = candidate;
      return 0;
    }
    // Someone else's file, folder or link, or a live writer's: left alone, the next name
    // is tried. Any other failure is the creation's.
    if (status != FileExistsError() && !NameTaken(candidate.c_str())) return status;
  }
  m_allTaken = true;
  return status;
}

uint32_t OutputFile::PutInPlace(Replacing replacing) {
  const uint32_t status = MovePath(m_temporary.c_str(), m_final.c_str(), replacing);
  if (status == 0) m_temporary.clear();
  return status;
}

uint32_t OutputFile::PutInPlaceAs(std::string finalPath) {
  m_final = std::move(finalPath);
  return PutInPlace(Replacing::Never);
}

void OutputFile::Discard() {
  if (m_temporary.empty()) return;
  // The engines' plaintexts carry the read-only mark from before their move.
  SetReadOnly(m_temporary.c_str(), false);
  DeletePath(m_temporary.c_str());
  m_temporary.clear();
}

uint32_t RemoveSource(const std::string& path) {
  const bool readOnly = IsReadOnly(path.c_str());
  if (readOnly) SetReadOnly(path.c_str(), false);
  const uint32_t status = DeletePath(path.c_str());
  if (status != 0 && readOnly) SetReadOnly(path.c_str(), true);
  return status;
}

void TellReclaimed(const OutputFile& output, FrontEnd& ui) {
  for (const std::string& name : output.Reclaimed())
    ui.ShowNotice(Format(Tr("끝나지 못한 지난 실행이 남긴 임시 파일을 지웠습니다: %s"), name.c_str()));
}
