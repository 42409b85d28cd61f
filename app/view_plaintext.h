#pragma once
// Hands a plaintext to the program the desktop associates with its type, waits until that
// program has let go of it, and deletes it.

class ViewerFrontEnd;

// The plaintext exists when this is called; it is gone (or could not be deleted, which
// is not reported) when it returns. With no associated program the file is deleted first,
// then the box "연결된 프로그램이 없습니다." is shown.
//
// When the program was started as a process and has ended, the file is deleted once no
// one holds it any more: first up to 10 seconds (in 500 ms steps) for it to show as in
// use, which a read-only plaintext does at once; then its read-only mark is cleared and
// the deletion waits, testing once a second without limit, until it is not in use. When
// the file went to a program without a process, the front end waits for that program to
// take over and, if the file is still open then, serves events once more before the
// deletion.
void ViewPlaintext(const char* path, ViewerFrontEnd& ui);
