#pragma once
// Watching one file that another program is to open and then let go of, by the system's
// events where it has them and at a bounded cost where it does not.
//
// Linux: inotify reports every open and every close of the file, by any process.
// Windows: an opportunistic lock (a batch oplock) on the file breaks when another handle
// opens it; the break is acknowledged at once, on a thread of the system's pool, so the
// opening program never waits for this one. Where the file system grants no such lock,
// the file's last access time is looked at every 100 ms (never opening the file, which
// could make a program's own open fail); for closes, which Windows reports to no one,
// whether the file is open is looked at every 500 ms.

#include <cstdint>
#include <string>

class OpenWatch {
 public:
  OpenWatch() = default;
  ~OpenWatch() { Stop(); }
  OpenWatch(const OpenWatch&) = delete;
  OpenWatch& operator=(const OpenWatch&) = delete;

  // Starts watching path for opens from now on. False when no event can be had (inotify
  // exhausted, no oplock): Opened then answers from looks at the file (Linux: whether some
  // process has it open, which misses a program that read it and closed it between two
  // looks; Windows: whether it was read since, where access times are kept).
  bool Start(const std::string& path);
  // Whether some process opened the file since Start or the last Forget.
  bool Opened();
  // Forgets the opens seen so far (those of a launcher that only looked at the file).
  void Forget();
  // Stops watching; on Windows, lets go of the lock so the watch holds no handle.
  void Stop();
  bool ByEvents() const { return m_byEvents; }

 private:
  std::string m_path;
  bool m_byEvents = false;
  bool m_opened = false;
#ifdef _WIN32
  void* m_state = nullptr;  // the oplock's or the timer's state
#else
  intptr_t m_fd = -1;  // the inotify descriptor
#endif
};

class ReleaseWatch {
 public:
  ReleaseWatch() = default;
  ~ReleaseWatch();
  ReleaseWatch(const ReleaseWatch&) = delete;
  ReleaseWatch& operator=(const ReleaseWatch&) = delete;

  // Starts watching path for closes. False when the system reports none (Windows, or
  // inotify exhausted): MaybeReleased then says yes every kFallbackMs.
  bool Start(const std::string& path);
  // True when a close of the file was reported since the last true answer, or, as a
  // safety net and where no closes are reported, when the interval has passed since it:
  // the moment to look again whether any process still has the file open. Never waits.
  bool MaybeReleased();

  // The intervals: with events (a program that never closes cannot be missed, but a
  // holder that dies is reported too), and without.
  static constexpr unsigned kSafetyNetMs = 2000;
  static constexpr unsigned kFallbackMs = 500;

 private:
  intptr_t m_fd = -1;
  uint64_t m_lastYes = 0;  // milliseconds of a monotonic clock
};
