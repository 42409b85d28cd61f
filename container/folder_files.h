#pragma once
// The files a selection stands for, by the folder rule (folder_rule.h): each path given
// as itself, and each folder (when folders are walked) as the files the rule takes under
// it, in order. The walk runs ahead of the work on a thread of its own, at most
// kLookAhead files ahead, so the work starts on the first file while the walk goes on and
// memory stays bounded however big the tree; what has been found so far (files, bytes)
// is known at any time, and is the whole once the walk is over. Where no thread can be
// started, the walk goes on inside Next, a file at a time.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "container/file_list.h"
#include "container/folder_rule.h"
#include "container/front_end.h"
#include "platform/monitor.h"
#include "platform/thread.h"

class FolderWalk;

class FolderFiles : public FileFeed {
 public:
  // Files found and not yet taken, at most.
  static constexpr size_t kLookAhead = 65536;
  // What a file weighs in the whole run's share beside its bytes: a folder of empty files
  // moves the bar too.
  static constexpr uint64_t kFileWeight = 4096;

  // paths: the selection, in the order given. A path that leads to a folder (a link to
  // one included: it was named) is walked when walkFolders; otherwise, and for every
  // other path, it is handed on as itself (Origin::Named), to be worked on or refused as
  // a named file is. lookAhead: files found and not yet taken, at most.
  FolderFiles(FolderWork work, std::vector<std::string> paths, bool walkFolders,
              size_t lookAhead = kLookAhead);
  ~FolderFiles() override;  // stops the walk and waits for its thread
  FolderFiles(const FolderFiles&) = delete;
  FolderFiles& operator=(const FolderFiles&) = delete;

  // Each entry skipped is handed to each, on the walk's thread, in the walk's order, as
  // it is met. Set before the first Next.
  void ListSkipped(std::function<void(FolderSkip kind, const std::string& path)> each) {
    m_listSkipped = std::move(each);
  }
  // Whether a path of the selection is a folder that is walked.
  bool AnyFolder() const { return m_anyFolder; }

  // The next file, in the selection's order; waits for the walk. Starts it on first use.
  bool Next(ListedFile* file) override;

  struct Found {
    uint64_t files = 0;     // files found so far (a folder that could not be read counts)
    uint64_t bytes = 0;     // their sizes
    bool complete = false;  // the walk is over: these are the totals
  };
  Found FoundSoFar() const;
  FolderSkipCounts Skipped() const;

  // For a run that works through the files one after the other: how much of the whole
  // run is done, 0 to 100, when the file Next gave last is filePercent done: the weight
  // (bytes and kFileWeight each) of the files taken before it and of its done part,
  // against the weight of everything found so far. Never less than it said before.
  unsigned RunPercent(unsigned filePercent);

 private:
  bool Produce(ListedFile* file);  // the walk's next file; false when it is over
  void Skip(FolderSkip kind, const std::string& path);
  void Push(ListedFile file);
  static unsigned Walk(void* self);

  const FolderWork m_work;
  const std::vector<std::string> m_paths;
  const size_t m_lookAhead;
  std::vector<bool> m_walked;     // per path: a folder to walk
  std::vector<uint64_t> m_sizes;  // per path: its size, as listed when given
  bool m_anyFolder = false;
  std::function<void(FolderSkip, const std::string&)> m_listSkipped;

  // The walk's own (one thread at a time: the walk's, or Next's where there is none).
  size_t m_nextPath = 0;
  std::unique_ptr<FolderWalk> m_walk;

  mutable Monitor m_monitor;  // guards what follows
  std::deque<ListedFile> m_queue;
  Found m_found;
  FolderSkipCounts m_skipped{};
  bool m_started = false, m_threaded = false, m_stopping = false;
  ThreadHandle m_thread = 0;

  // Next's caller's own.
  uint64_t m_weightBefore = 0, m_weightCurrent = 0;
  unsigned m_lastPercent = 0;
};

// A run's progress view whose bar stands for the whole run (FolderFiles::RunPercent):
// each file's start shows its name without emptying the bar (ProgressView::ShowFile), at
// most every 100 ms, and the bar moves by the run's share. files must outlive the view.
std::unique_ptr<ProgressView> WholeRunProgress(std::unique_ptr<ProgressView> view,
                                               FolderFiles& files);
