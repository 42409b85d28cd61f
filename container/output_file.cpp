#include "container/output_file.h"

#include "container/naming.h"
#include "platform/system_error.h"

uint32_t OutputFile::Create(FileHandle& file) {
  uint32_t status = 0;
  for (unsigned attempt = 1; attempt <= kPartialAttempts; ++attempt) {
    const std::string candidate = PartialPath(m_final, attempt);
    status = file.Open(candidate.c_str(), FileMode::Write, Disposition::CreateNew);
    if (status == 0) {
      m_temporary = candidate;
      return 0;
    }
    // Someone else's file, folder or link (or a partial output of a run that died): left
    // alone, the next name is tried. Any other failure is the creation's.
    if (status != FileExistsError() && !NameTaken(candidate.c_str())) return status;
  }
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
