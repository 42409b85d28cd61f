#include "platform/file_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>

#include "platform/file_ops.h"

namespace {

uint64_t NowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

int Watch(const std::string& path, uint32_t events) {
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return -1;
  if (inotify_add_watch(fd, path.c_str(), events) < 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Whether one of events was reported since the last look; consumes the reports.
bool Reported(int fd, uint32_t events) {
  bool seen = false;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      seen = seen || (event->mask & events) != 0;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  return seen;
}

}  // namespace

bool OpenWatch::Start(const std::string& path) {
  Stop();
  m_path = path;
  m_opened = false;
  m_fd = Watch(path, IN_OPEN);
  m_byEvents = m_fd >= 0;
  return m_byEvents;
}

bool OpenWatch::Opened() {
  if (m_fd >= 0 && Reported(static_cast<int>(m_fd), IN_OPEN)) m_opened = true;
  if (!m_byEvents && !m_path.empty() && IsFileOpen(m_path.c_str())) m_opened = true;
  return m_opened;
}

void OpenWatch::Forget() {
  if (m_fd >= 0) Reported(static_cast<int>(m_fd), IN_OPEN);
  m_opened = false;
}

void OpenWatch::Stop() {
  if (m_fd >= 0) close(static_cast<int>(m_fd));
  m_fd = -1;
  m_byEvents = false;
}

ReleaseWatch::~ReleaseWatch() {
  if (m_fd >= 0) close(static_cast<int>(m_fd));
}

bool ReleaseWatch::Start(const std::string& path) {
  if (m_fd >= 0) close(static_cast<int>(m_fd));
  m_fd = Watch(path, IN_CLOSE_WRITE | IN_CLOSE_NOWRITE);
  m_lastYes = NowMs();
  return m_fd >= 0;
}

bool ReleaseWatch::MaybeReleased() {
  const uint64_t now = NowMs();
  const bool closed = m_fd >= 0 && Reported(static_cast<int>(m_fd), IN_CLOSE_WRITE | IN_CLOSE_NOWRITE);
  const unsigned interval = m_fd >= 0 ? kSafetyNetMs : kFallbackMs;
  if (!closed && now - m_lastYes < interval) return false;
  m_lastYes = now;
  return true;
}
