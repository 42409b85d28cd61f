#pragma once
// The terminal, for the console front end.

#include <string>

bool StderrIsTerminal();

// Prints prompt on the terminal and reads one line without echo. False when there is no
// terminal or reading failed. The line's bytes are kept as typed, without the line end.
bool ReadPasswordFromTerminal(const char* prompt, std::string* password);

// From now on Ctrl-C (SIGINT, or the console's Ctrl-C / Ctrl-Break event on Windows) does
// not end the process: it sets the flag returned by InterruptRequested, so that a running
// job can stop as if its Cancel button had been pressed.
void InstallInterruptHandler();
bool InterruptRequested();
