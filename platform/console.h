#pragma once
// The terminal, for the console front end.

#include <string>

bool StderrIsTerminal();

enum class StandardStream { Output, Error };

// Writes text to standard output or standard error at once (flushed). On Windows every
// line goes out ending in exactly "\r\n": a lone "\n" gains its carriage return and one
// already there is not doubled. Elsewhere every line ends in "\n" alone: a "\r\n" loses
// its carriage return (a lone "\r" stays). Whatever a program prints to these streams
// goes through here, never through the C library's text mode.
void WriteStandard(StandardStream stream, const std::string& text);

// Prints prompt on the terminal (/dev/tty, or the console, even when standard input and
// output are redirected) and reads one line without echo. False when there is no
// terminal, input ended before a line end, or a signal or Ctrl-C abandoned the read; the
// password is then empty. The line's bytes are kept as typed, without the line end.
// Echo is restored on every path, also before a signal that arrived meanwhile takes
// effect (ending the process, or running the handler of InstallInterruptHandler); after
// a job-control stop the prompt is shown again.
bool ReadPasswordFromTerminal(const char* prompt, std::string* password);

// From now on Ctrl-C (SIGINT, or the console's Ctrl-C / Ctrl-Break event on Windows) does
// not end the process: it sets the flag returned by InterruptRequested, so that a running
// job can stop as if its Cancel button had been pressed.
void InstallInterruptHandler();
bool InterruptRequested();

// Ctrl-C from within, as if pressed now (after InstallInterruptHandler): the flag is set
// when this returns.
void RaiseInterrupt();
