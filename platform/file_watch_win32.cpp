#include "platform/file_watch.h"

#include <windows.h>
#include <winioctl.h>

#include <atomic>

#include "platform/wide_win32.h"

namespace {

// How often a file is looked at where no oplock can be had.
constexpr DWORD kLookMs = 100;

struct WatchState {
  std::wstring path;
  std::string utf8Path;
  std::atomic<bool> opened{false};
  HANDLE file = INVALID_HANDLE_VALUE;  // holds the oplock
  OVERLAPPED overlapped = {};
  HANDLE wait = nullptr;   // the pool's wait on the break
  HANDLE timer = nullptr;  // the pool's timer of the looks
  FILETIME accessed = {};  // the file's last access when the looks began
};

bool LastAccess(const std::wstring& path, FILETIME* accessed) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
  *accessed = data.ftLastAccessTime;
  return true;
}

// The oplock broke: someone opens the file. Closing the handle acknowledges the break,
// so the opener goes on at once.
VOID CALLBACK OnBreak(PVOID context, BOOLEAN) {
  auto* state = static_cast<WatchState*>(context);
  state->opened = true;
  HANDLE file = state->file;
  state->file = INVALID_HANDLE_VALUE;
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

// A look, which never opens the file (an open of ours, however brief, could make a
// program's own open of it fail): whether its last access moved since the looks began.
// The first read after a write moves it wherever access times are kept at all, even by
// file systems that keep them lazily.
VOID CALLBACK OnLook(PVOID context, BOOLEAN) {
  auto* state = static_cast<WatchState*>(context);
  FILETIME accessed;
  if (!state->opened && LastAccess(state->path, &accessed) && CompareFileTime(&accessed, &state->accessed) != 0)
    state->opened = true;
}

void StartLooking(WatchState* state) {
  LastAccess(state->path, &state->accessed);
  CreateTimerQueueTimer(&state->timer, nullptr, OnLook, state, kLookMs, kLookMs, WT_EXECUTEDEFAULT);
}

bool RequestOplock(WatchState* state) {
  state->file = CreateFileW(state->path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
  if (state->file == INVALID_HANDLE_VALUE) return false;
  state->overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const BOOL done = DeviceIoControl(state->file, FSCTL_REQUEST_BATCH_OPLOCK, nullptr, 0, nullptr, 0, nullptr,
                                    &state->overlapped);
  // Granted: the request stays pending until the lock breaks.
  if (done || GetLastError() != ERROR_IO_PENDING ||
      !RegisterWaitForSingleObject(&state->wait, state->overlapped.hEvent, OnBreak, state, INFINITE,
                                   WT_EXECUTEONLYONCE)) {
    CloseHandle(state->file);
    state->file = INVALID_HANDLE_VALUE;
    return false;
  }
  return true;
}

}  // namespace

bool OpenWatch::Start(const std::string& path) {
  Stop();
  auto* state = new WatchState;
  state->path = Wide(path);
  state->utf8Path = path;
  m_state = state;
  m_path = path;
  m_opened = false;
  m_byEvents = RequestOplock(state);
  if (!m_byEvents) StartLooking(state);
  return m_byEvents;
}

bool OpenWatch::Opened() {
  auto* state = static_cast<WatchState*>(m_state);
  if (state && state->opened) m_opened = true;
  return m_opened;
}

void OpenWatch::Forget() {
  m_opened = false;
  auto* state = static_cast<WatchState*>(m_state);
  if (!state) return;
  if (state->timer) DeleteTimerQueueTimer(nullptr, state->timer, INVALID_HANDLE_VALUE);
  state->timer = nullptr;
  state->opened = false;
  // A pending oplock watches on; a broken one is not asked for again: the file is looked
  // at instead, from now on.
  if (!state->wait || state->file == INVALID_HANDLE_VALUE) StartLooking(state);
}

void OpenWatch::Stop() {
  auto* state = static_cast<WatchState*>(m_state);
  if (!state) return;
  // Each waits for a callback under way to finish.
  if (state->wait) UnregisterWaitEx(state->wait, INVALID_HANDLE_VALUE);
  if (state->timer) DeleteTimerQueueTimer(nullptr, state->timer, INVALID_HANDLE_VALUE);
  if (state->file != INVALID_HANDLE_VALUE) {
    CancelIoEx(state->file, &state->overlapped);
    CloseHandle(state->file);
  }
  if (state->overlapped.hEvent) CloseHandle(state->overlapped.hEvent);
  if (state->opened) m_opened = true;
  delete state;
  m_state = nullptr;
  m_byEvents = false;
}

ReleaseWatch::~ReleaseWatch() = default;

// Windows reports closes to no one: the file is looked at every kFallbackMs.
bool ReleaseWatch::Start(const std::string&) {
  m_lastYes = GetTickCount64();
  return false;
}

bool ReleaseWatch::MaybeReleased() {
  const uint64_t now = GetTickCount64();
  if (now - m_lastYes < kFallbackMs) return false;
  m_lastYes = now;
  return true;
}
