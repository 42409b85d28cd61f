#include "platform/thread.h"

#include <windows.h>

namespace {

struct Start {
  unsigned (*entry)(void*);
  void* arg;
};

// A thread may begin on a 4-byte aligned stack; the SSE code below it needs 16.
__attribute__((force_align_arg_pointer)) DWORD WINAPI ThreadProc(void* p) {
  Start start = *static_cast<Start*>(p);
  delete static_cast<Start*>(p);
  return start.entry(start.arg);
}

}  // namespace

ThreadHandle StartThread(unsigned (*entry)(void*), void* arg) {
  Start* start = new Start{entry, arg};
  HANDLE h = CreateThread(nullptr, 0, ThreadProc, start, 0, nullptr);
  if (!h) {
    delete start;
    return 0;
  }
  return reinterpret_cast<ThreadHandle>(h);
}

void WaitServingMessages(ThreadHandle thread, const std::function<void()>&) {
  HANDLE h = reinterpret_cast<HANDLE>(thread);
  for (;;) {
    const DWORD r = MsgWaitForMultipleObjects(1, &h, FALSE, INFINITE, 0xFF);
    if (r == WAIT_OBJECT_0 + 1) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    } else if (r != WAIT_TIMEOUT) {
      return;
    }
  }
}

void ReapThread(ThreadHandle thread) {
  HANDLE h = reinterpret_cast<HANDLE>(thread);
  WaitForSingleObject(h, INFINITE);
  CloseHandle(h);
}

void SleepMilliseconds(unsigned ms) { Sleep(ms); }

unsigned UsableProcessors() {
  DWORD_PTR process = 0, system = 0;
  unsigned n = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
    for (; process; process &= process - 1) ++n;
  if (n == 0) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    n = info.dwNumberOfProcessors;
  }
  return n > 0 ? n : 1;
}
