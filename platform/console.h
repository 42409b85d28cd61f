#pragma once
// The terminal, for the console front end.

#include <string>
#include <vector>

// The arguments a console program was started with, after its own path, as UTF-8: the
// C library's argv elsewhere; on Windows the wide command line split by the system's
// rules, so a name the ANSI code page cannot hold arrives as it is, never as '?'.
std::vector<std::string> ProgramArguments(int argc, char** argv);

bool StderrIsTerminal();

enum class StandardStream { Output, Error };

// Writes UTF-8 text to standard output or standard error at once (flushed). On Windows
// every line goes out ending in exactly "\r\n": a lone "\n" gains its carriage return and
// one already there is not doubled; to a console the text goes as the characters it is
// (any name shows as it is), to a pipe or file in the ANSI code page, a character it
// cannot hold becoming '?', or in UTF-8 after UseUtf8WhenRedirected(true). Elsewhere the
// bytes are the text's, every line ending in "\n" alone: a "\r\n" loses its carriage
// return (a lone "\r" stays). Whatever a program prints to these streams goes through
// here, never through the C library's text mode.
void WriteStandard(StandardStream stream, const std::string& text);
// Windows: output to a pipe or file in UTF-8 rather than the ANSI code page. Elsewhere
// it is UTF-8 anyway.
void UseUtf8WhenRedirected(bool utf8);

// Prints prompt on the terminal (/dev/tty, or the console, even when standard input and
// output are redirected) and reads one line without echo. False when there is no
// terminal, input ended before a line end, or a signal or Ctrl-C abandoned the read; the
// password is then empty. The line is the text typed, without the line end: its bytes
// as the terminal gave them (UTF-8 on today's systems); on Windows read from the console
// in Unicode and given as UTF-8 (TypedPasswordBytes makes the bytes to hash).
// Echo is restored on every path, also before a signal that arrived meanwhile takes
// effect (ending the process, or running the handler of InstallInterruptHandler); after
// a job-control stop the prompt is shown again.
bool ReadPasswordFromTerminal(const char* prompt, std::string* password);

// From now on Ctrl-C and what ends a program's session do not end the process at once:
// they set the flag returned by InterruptRequested, so that a running job can stop as if
// its Cancel button had been pressed and leave nothing behind. Elsewhere: SIGINT, SIGHUP
// (the terminal closed, the connection dropped), SIGQUIT and SIGTERM. Windows: Ctrl-C,
// Ctrl-Break, the console closed, log-off and shut-down; for the last three the system
// ends the process once the handler returns, so it waits (at most a few seconds) until
// WorkStopped says the work has cleaned up.
void InstallInterruptHandler();
bool InterruptRequested();
// The exit status of a run that such an interruption stopped: 128 + the signal's number
// (130 for Ctrl-C, 129 for a hang-up, 143 for SIGTERM); 130 on Windows.
int InterruptExitStatus();
// The work is over and what it left is cleaned up: an ending session may go on.
void WorkStopped();

// Ctrl-C from within, as if pressed now (after InstallInterruptHandler): the flag is set
// when this returns.
void RaiseInterrupt();
