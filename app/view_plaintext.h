#pragma once
// Windows only. Hands a plaintext to the program the desktop associates with its type,
// waits until that program has let go of it, and deletes it.

#include <windows.h>

enum LaunchResult {
  Failed = -1,      // the shell call failed
  NoProcess = 0,    // it succeeded without a process handle
  ProcessEnded = 1  // it returned a process handle; when a wait was asked for, it has ended
};

// The plaintext exists when this is called; it is gone (or could not be deleted, which
// is not reported) when it returns. With no associated program the file is deleted first,
// then the box "연결된 프로그램이 없습니다." is shown.
void ViewPlaintext(const char* path);

LaunchResult OpenWithAssociatedProgram(const char* file, const char* verb, int showCommand, bool wait,
                                       const char* parameters);

// True when the file cannot be opened for writing with read and write sharing for any
// reason but its absence: another program holds it without write sharing, or it is
// read-only.
bool IsFileInUse(const char* path);

// Dispatches the calling thread's waiting messages for at most about a second.
void DrainMessages();
