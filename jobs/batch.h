#pragma once
// Works through the files of a batch on up to a given number of threads at once, each
// file by its own run, while the calling thread hands each file's end on in the order of
// the files: a file's end waits until every earlier file's has been handed on. Files
// start in order; a file may be made to wait until given earlier ones have ended (two
// files that touch one name), and once a file may not start, no later one starts.
// Memory stays that of `threads` runs: nothing is held per file but what its work keeps.

#include <cstddef>
#include <vector>

class BatchWork {
 public:
  virtual ~BatchWork() = default;
  // Asked on the thread that would run file, just before it would start (and after the
  // files it waits for have ended): false leaves it and every later file unstarted.
  virtual bool MayStart(size_t file) = 0;
  // Works on one file; other files run at the same time on other threads.
  virtual void Run(size_t file) = 0;
  // On the calling thread, once per file, in file order: file has ended (started false:
  // it was never started). What Run wrote is visible here.
  virtual void Ended(size_t file, bool started) = 0;
};

// Runs files 0 to count - 1 and returns once each has been handed to Ended. waitFor[i]
// (when waitFor has that many entries) lists earlier files that must have ended before
// file i starts. At most `threads` files run at once (at least one). Where no thread can
// be started, the calling thread works through the files itself, one at a time.
void RunBatch(BatchWork& work, size_t count, size_t threads,
              const std::vector<std::vector<size_t>>& waitFor);

// A batch whose files are found while it runs (a folder walk feeds it).
class StreamWork : public BatchWork {
 public:
  // Finds file number `file` (0, 1, 2 … in turn; one call at a time, each after the one
  // before has returned, on whichever thread takes the file) and lists in *waitFor the
  // earlier files that must have ended before it starts; false when there is none: the
  // batch has `file` files. Not asked again once a file may not start.
  virtual bool Find(size_t file, std::vector<size_t>* waitFor) = 0;
};

// Runs the files Find gives as RunBatch runs its files, with at most `window` files found
// and not yet handed to Ended (at least threads), so that the batch holds no more than
// that however many files it has.
void RunStream(StreamWork& work, size_t threads, size_t window);
