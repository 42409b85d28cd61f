#pragma once
// Hands a plaintext to the program the desktop associates with its type, waits until that
// program has let go of it, and deletes it.

class ViewerFrontEnd;

// The plaintext exists, read-only, when this is called; it is gone when this returns, or,
// when it cannot be deleted, still there read-only (so that the next run's clean-up
// removes it once no one holds it). The read-only mark stays on until the deletion
// itself. With no associated program the file is deleted first, then the box
// "연결된 프로그램이 없습니다." is shown and the result is false; otherwise true.
//
// When the program was started as a process and has ended, the deletion waits, testing
// once a second without limit, until no process has the file open. When the file went
// to a program without a process to wait for, the run waits up to 30 seconds for some
// program to open the file, then until no program has it open, keeping the desktop's
// windows served.
bool ViewPlaintext(const char* path, ViewerFrontEnd& ui);
