#include "tests/engine_fixture.h"

#include <atomic>
#include <filesystem>
#include <random>

#include "platform/file_handle.h"
#include "platform/file_ops.h"
#include "platform/path.h"

namespace testutil {

namespace {

class RecordingView : public ProgressView {
 public:
  explicit RecordingView(RecordingUi& ui) : m_ui(ui) {}
  ~RecordingView() override { ++m_ui.closed; }
  void StartFile(const std::string& path) override {
    m_ui.started.push_back(path);
    m_ui.percents.emplace_back();
  }
  // A whole run's bar: the file line changes, the bar stays.
  void ShowFile(const std::string& path) override { m_ui.shown.push_back(path); }
  void SetProgress(unsigned percent) override {
    EXPECT_FALSE(m_ui.percents.empty()) << "progress before any file started";
    if (!m_ui.percents.empty()) m_ui.percents.back().push_back(percent);
    if (m_ui.cancelFile != 0 && static_cast<int>(m_ui.started.size()) == m_ui.cancelFile &&
        percent >= m_ui.cancelPercent)
      m_cancelled = true;
  }
  bool IsCancelled() override {
    if (m_ui.cancelWhen && m_ui.cancelWhen()) m_cancelled = true;
    return m_cancelled;
  }

 private:
  RecordingUi& m_ui;
  bool m_cancelled = false;  // once true, stays true
};

}  // namespace

std::unique_ptr<ProgressView> RecordingUi::OpenProgress(ProgressOperation op) {
  ++opened;
  operation = op;
  return std::make_unique<RecordingView>(*this);
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FileHandle f;
  ASSERT_EQ(f.Open(path.c_str(), FileMode::Write, Disposition::CreateAlways), 0u) << path;
  uint32_t n = 0;
  if (!bytes.empty()) {
    ASSERT_EQ(f.Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &n), 0u);
  }
  ASSERT_EQ(f.Close(), 0u);
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  FileHandle f;
  std::vector<uint8_t> out;
  EXPECT_EQ(f.Open(path.c_str(), FileMode::Read, Disposition::OpenExisting), 0u) << path;
  int64_t size = 0;
  if (f.GetSize(&size) != 0) return out;
  out.resize(static_cast<size_t>(size));
  uint32_t n = 0;
  if (size) {
    EXPECT_EQ(f.Read(out.data(), static_cast<uint32_t>(size), &n), 0u);
  }
  out.resize(n);
  return out;
}

bool Exists(const std::string& path) { return LookUpPath(path.c_str()) != PathKind::Missing; }

bool IsReadOnly(const std::string& path) {
  FileHandle f;
  const uint32_t status = f.Open(path.c_str(), FileMode::Write, Disposition::OpenExisting);
  return status == 5 || status == 13;  // access denied (Windows, elsewhere)
}

void RemoveFile(const std::string& path) {
  SetReadOnly(path.c_str(), false);
  DeletePath(path.c_str());
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  std::mt19937 rng(seed);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

}  // namespace testutil
