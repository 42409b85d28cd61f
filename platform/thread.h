#pragma once
// Worker threads for jobs, and the waiting thread's wait that keeps its own windows or
// events served.

#include <cstdint>
#include <functional>

using ThreadHandle = uintptr_t;  // 0: no thread

// Starts entry(arg) on a new thread at once. Returns 0 when the thread cannot be created.
// On 32-bit Windows the entry runs on a stack realigned for SSE code.
ThreadHandle StartThread(unsigned (*entry)(void*), void* arg);

// Waits until the thread has ended. Windows: MsgWaitForMultipleObjects on the thread (or
// any other waitable handle, a process for one), every kind of input, dispatching every
// message of the calling thread as it arrives; a failing wait ends it.
// Elsewhere: serve is called between short waits (the front end's event processing).
void WaitServingMessages(ThreadHandle thread, const std::function<void()>& serve);

// Waits for the thread to end without limit and releases its handle.
void ReapThread(ThreadHandle thread);

// How many processors the process may run on (its affinity), at least 1.
unsigned UsableProcessors();

// Sleeps the calling thread.
void SleepMilliseconds(unsigned ms);
