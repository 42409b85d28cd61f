#include <cstring>
#include <string>
#include <vector>

#include "container/engines.h"
#include "container/format.h"
#include "container/io.h"
#include "container/progress_step.h"
#include "container/system_error_exception.h"
#include "crypto/file_handle.h"
#include "crypto/secure.h"
#include "platform/file_ops.h"
#include "platform/lock.h"
#include "platform/mbstring.h"
#include "platform/path.h"
#include "platform/system_error.h"
#include "platform/working_folder.h"

const char kPartialSuffix[] = ".qv3part";

namespace {

// Data moves in pieces of this size: one read and one write call each.
constexpr size_t kChunk = 1 << 20;
constexpr size_t kWorkingFolderBuffer = 520;

class Decryptor {
 public:
  Decryptor(Lock& lock, char* password, bool deleteSource, bool toWorkingFolder, FrontEnd& ui,
            ProgressView& view)
      : m_lock(lock),
        m_password(password),
        m_deleteSource(deleteSource),
        m_toWorkingFolder(toWorkingFolder),
        m_ui(ui),
        m_view(view) {}
  ~Decryptor() {
    if (!m_buffer.empty()) SecureWipe(m_buffer.data(), m_buffer.size());
  }

  // Returns false when the run must stop (a failure or Cancel).
  bool DecryptOne(const std::string& path);

 private:
  bool OutputPath(const std::string& path, std::string* output);
  void Fail(const std::string& message, uint32_t code) {
    m_ui.ShowErrorMessage(message, code);
    m_failed = true;
  }

  Lock& m_lock;
  const char* m_password;
  bool m_deleteSource;
  bool m_toWorkingFolder;
  FrontEnd& m_ui;
  ProgressView& m_view;
  FileHandle m_in, m_out;
  std::vector<uint8_t> m_buffer;
  bool m_failed = false;
};

// The output path before its last 5 bytes are cut; false (with the message shown) when
// the container's name cannot give one.
bool Decryptor::OutputPath(const std::string& path, std::string* output) {
  if (path.size() + 1 > kMaxPathBytes) {
    Fail("잘못된 파일명입니다.\r\n" + path, 0);
    return false;
  }
  if (!m_toWorkingFolder) {
    *output = path;
  } else {
    const char* separator = MbsRChr(path.c_str(), kPathSeparator);
    if (!separator) {
      Fail("잘못된 파일명입니다.\r\n" + path, 0);
      return false;
    }
    char folder[kWorkingFolderBuffer] = {};
    GetWorkingFolder(sizeof folder, folder);
    CreateFolder(folder);
    const std::string name = separator + 1;
    *output = std::string(folder) + kPathSeparator + name;
    if (output->size() + sizeof kPartialSuffix > kMaxPathBytes) {
      Fail("잘못된 파일명입니다.\r\n" + path, 0);
      return false;
    }
    // Cutting 5 bytes off a shorter name would reach into the working folder's own path.
    if (name.size() <= 5) {
      Fail("엉뚱한 파일명입니다.\r\n" + path, 0);
      return false;
    }
  }
  if (output->size() < 6) {
    Fail("엉뚱한 파일명입니다.\r\n" + path, 0);
    return false;
  }
  return true;
}

bool Decryptor::DecryptOne(const std::string& path) {
  std::string output;
  const bool named = OutputPath(path, &output);
  m_view.StartFile(path);
  if (!named) return false;
  output.resize(output.size() - 5);
  const std::string partial = output + kPartialSuffix;

  uint32_t status = m_in.Open(path.c_str(), FileMode::Read, Disposition::OpenExisting);
  if (status != 0) {
    Fail(InputOpenFailureMessage(path, false), status);
    return false;
  }

  // A file already at the output path stays as it is until the plaintext has
  // authenticated; one that could not be replaced then is refused now, before any work.
  if (LookUpPath(output.c_str()) != PathKind::Missing) {
    FileHandle probe;
    status = probe.Open(output.c_str(), FileMode::Write, Disposition::OpenExisting);
  }
  if (status == 0) status = m_out.Open(partial.c_str(), FileMode::Write, Disposition::CreateAlways);
  if (status != 0) {
    m_in.Close();
    Fail("파일을 생성할 수 없습니다.\r\n" + output, status);
    return false;
  }

  bool cancelled = false;
  try {
    FileSource source(m_in);
    FileSink sink(m_out);
    ContainerReader reader(source, path, &m_lock);
    const ContainerLayout& layout = reader.ReadLayout();
    reader.Unlock(m_password, std::strlen(m_password));
    if (m_buffer.empty()) m_buffer.resize(kChunk);
    const uint64_t total = layout.size - layout.overhead;
    ProgressStep step(m_view, total);
    while (const size_t n = reader.ReadPlaintext(m_buffer.data(), m_buffer.size())) {
      status = sink.Write(m_buffer.data(), static_cast<uint32_t>(n));
      if (status != 0) throw SystemErrorException("다음 파일을 쓸 수 없습니다.\r\n" + output, status);
      const uint64_t remaining = reader.CipherRemaining();
      if (step.Update(total - remaining, remaining > 0)) {
        cancelled = true;
        break;
      }
    }
    if (!cancelled) reader.Finish();
  } catch (const SystemErrorException& e) {
    Fail(e.m_strMessage, e.m_dwError);
  }
  if (cancelled) m_failed = true;

  if (!m_out.Flush()) Fail("파일을 쓸 수 없습니다.\r\n" + output, LastSystemError());
  m_in.Close();
  m_out.Close();

  if (!m_failed) {
    SetReadOnly(partial.c_str(), true);
    status = ReplacePath(partial.c_str(), output.c_str());
    if (status != 0) {
      SetReadOnly(partial.c_str(), false);
      Fail("파일을 생성할 수 없습니다.\r\n" + output, status);
    }
  }
  if (m_failed) {
    DeletePath(partial.c_str());
    return false;
  }
  if (m_deleteSource) {
    SetReadOnly(path.c_str(), false);
    DeletePath(path.c_str());
  }
  FlushVolume(output[0]);
  return true;
}

}  // namespace

void DecryptFiles(Lock& keyScheduleLock, FileList& files, char* password, bool deleteSource,
                  bool toWorkingFolder, FrontEnd& ui) {
  ScopedWipe wipePassword(password, 256);
  std::unique_ptr<ProgressView> view = ui.OpenProgress(OPERATION_DECRYPT);
  Decryptor decryptor(keyScheduleLock, password, deleteSource, toWorkingFolder, ui, *view);
  bool ok = true;
  while (ok && !files.Empty()) {
    ok = decryptor.DecryptOne(files.Front());
    files.RemoveFront();
  }
}
