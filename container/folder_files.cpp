#include "container/folder_files.h"

#include <algorithm>
#include <chrono>

#include "platform/file_ops.h"
#include "platform/folder_walk.h"
#include "platform/path.h"

FolderFiles::FolderFiles(FolderWork work, std::vector<std::string> paths, bool walkFolders,
                         size_t lookAhead)
    : m_work(work),
      m_paths(std::move(paths)),
      m_lookAhead(lookAhead < 1 ? 1 : lookAhead),
      m_walked(m_paths.size()),
      m_sizes(m_paths.size()) {
  // The files named are known at once; the walk adds what it finds.
  for (size_t i = 0; i < m_paths.size(); ++i) {
    m_walked[i] = walkFolders && LookUpPath(m_paths[i].c_str()) == PathKind::Directory;
    if (m_walked[i]) {
      m_anyFolder = true;
      continue;
    }
    m_sizes[i] = SizeOfFile(m_paths[i].c_str());
    ++m_found.files;
    m_found.bytes += m_sizes[i];
  }
}

FolderFiles::~FolderFiles() {
  {
    MonitorGuard guard(m_monitor);
    m_stopping = true;
    m_monitor.WakeAll();
  }
  if (m_thread) ReapThread(m_thread);
}

void FolderFiles::Skip(FolderSkip kind, const std::string& path) {
  {
    MonitorGuard guard(m_monitor);
    ++m_skipped[static_cast<size_t>(kind)];
  }
  if (m_listSkipped) m_listSkipped(kind, path);
}

bool FolderFiles::Produce(ListedFile* file) {
  for (;;) {
    if (m_walk) {
      WalkEntry entry;
      if (!m_walk->Next(&entry)) {
        m_walk.reset();
        continue;
      }
      FolderSkip skip = FolderSkip::Link;
      switch (entry.type) {
        case WalkEntryType::File:
          if (!TakesFoundFile(m_work, entry.path, &skip)) {
            Skip(skip, entry.path);
            continue;
          }
          file->origin = ListedFile::Origin::Found;
          file->path = std::move(entry.path);
          file->identity = entry.identity;
          file->folder = entry.folder;
          file->size = entry.size;
          return true;
        case WalkEntryType::Unreadable:
          file->origin = ListedFile::Origin::Unreadable;
          file->path = std::move(entry.path);
          file->folder = entry.folder;
          file->code = entry.code;
          return true;
        case WalkEntryType::Link:
          skip = FolderSkip::Link;
          break;
        case WalkEntryType::Device:
          skip = FolderSkip::Device;
          break;
        case WalkEntryType::Socket:
          skip = FolderSkip::Socket;
          break;
        case WalkEntryType::Fifo:
          skip = FolderSkip::Fifo;
          break;
        case WalkEntryType::OtherFileSystem:
          skip = FolderSkip::OtherFileSystem;
          break;
      }
      Skip(skip, entry.path);
      continue;
    }
    if (m_nextPath == m_paths.size()) return false;
    const size_t i = m_nextPath++;
    file->path = m_paths[i];
    if (!m_walked[i]) {
      file->origin = ListedFile::Origin::Named;
      file->size = m_sizes[i];
      return true;
    }
    m_walk = std::make_unique<FolderWalk>();
    if (const uint32_t status = m_walk->Open(m_paths[i])) {
      m_walk.reset();
      file->origin = ListedFile::Origin::Unreadable;
      file->code = status;
      return true;
    }
  }
}

void FolderFiles::Push(ListedFile file) {
  if (file.origin != ListedFile::Origin::Named) {
    ++m_found.files;
    m_found.bytes += file.size;
  }
  m_queue.push_back(std::move(file));
  m_monitor.WakeAll();
}

unsigned FolderFiles::Walk(void* self) {
  FolderFiles& files = *static_cast<FolderFiles*>(self);
  for (;;) {
    ListedFile file;
    const bool more = files.Produce(&file);  // reads folders: outside the monitor
    MonitorGuard guard(files.m_monitor);
    if (!more) {
      files.m_found.complete = true;
      files.m_monitor.WakeAll();
      return 0;
    }
    while (files.m_queue.size() >= files.m_lookAhead && !files.m_stopping) files.m_monitor.Wait();
    if (files.m_stopping) return 0;
    files.Push(std::move(file));
  }
}

bool FolderFiles::Next(ListedFile* file) {
  {
    MonitorGuard guard(m_monitor);
    if (!m_started) {
      m_started = true;
      m_thread = StartThread(&FolderFiles::Walk, this);
      m_threaded = m_thread != 0;
    }
  }
  if (!m_threaded) {
    // No thread to walk ahead: the walk goes on here.
    ListedFile found;
    const bool more = !m_found.complete && Produce(&found);
    MonitorGuard guard(m_monitor);
    if (more)
      Push(std::move(found));
    else
      m_found.complete = true;
  }
  MonitorGuard guard(m_monitor);
  while (m_queue.empty() && !m_found.complete) m_monitor.Wait();
  if (m_queue.empty()) return false;
  *file = std::move(m_queue.front());
  m_queue.pop_front();
  m_monitor.WakeAll();
  m_weightBefore += m_weightCurrent;
  m_weightCurrent = file->size + kFileWeight;
  return true;
}

FolderFiles::Found FolderFiles::FoundSoFar() const {
  MonitorGuard guard(m_monitor);
  return m_found;
}

FolderSkipCounts FolderFiles::Skipped() const {
  MonitorGuard guard(m_monitor);
  return m_skipped;
}

unsigned FolderFiles::RunPercent(unsigned filePercent) {
  const Found found = FoundSoFar();
  const uint64_t done = m_weightBefore + m_weightCurrent * std::min(filePercent, 100u) / 100;
  const uint64_t whole = std::max(found.bytes + found.files * kFileWeight, done);
  const unsigned percent = whole ? static_cast<unsigned>(done * 100 / whole) : 100;
  m_lastPercent = std::max(m_lastPercent, percent);
  return m_lastPercent;
}

namespace {

class WholeRunView : public ProgressView {
 public:
  WholeRunView(std::unique_ptr<ProgressView> view, FolderFiles& files)
      : m_view(std::move(view)), m_files(files) {}

  void StartFile(const std::string& path) override {
    const auto now = std::chrono::steady_clock::now();
    if (m_shown && now - m_lastShown < std::chrono::milliseconds(100)) return;
    m_lastShown = now;
    if (!m_shown)
      m_view->StartFile(path);  // the window's first showing, the bar at 0
    else
      m_view->ShowFile(path);
    m_shown = true;
    SetProgress(0);
  }

  void SetProgress(unsigned percent) override {
    const unsigned run = m_files.RunPercent(percent);
    if (run == m_percent) return;
    m_percent = run;
    m_view->SetProgress(run);
  }

  bool IsCancelled() override { return m_view->IsCancelled(); }

 private:
  std::unique_ptr<ProgressView> m_view;
  FolderFiles& m_files;
  bool m_shown = false;
  unsigned m_percent = 0;
  std::chrono::steady_clock::time_point m_lastShown;
};

}  // namespace

std::unique_ptr<ProgressView> WholeRunProgress(std::unique_ptr<ProgressView> view,
                                               FolderFiles& files) {
  return std::make_unique<WholeRunView>(std::move(view), files);
}
