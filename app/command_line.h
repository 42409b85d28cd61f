#pragma once
// The viewer's own reading of its command line.

// Splits text into arguments: separators TAB, LF, CR and SPACE; a double quote opens and
// closes a quoted part (separators inside are kept) and is never copied; no escape
// character, so a backslash is ordinary and no argument holds a double quote; bytes from
// 0x80 up are ordinary, so every character of UTF-8 text passes unchanged. Returns the argument
// table (null-terminated), one block from AllocateArgumentBlock holding the table and
// the texts: release it with FreeArgumentBlock. *count receives the number of arguments.
// Returns null (count 0) when the block cannot be allocated.
char** SplitCommandLine(const char* text, int* count);
void FreeArgumentBlock(char** block);

// The part of a process command line after the program path: the path is skipped as one
// token (from an opening double quote to its closing one, or else up to the first byte
// from 1 to 32), then every following byte from 1 to 32.
const char* CommandLineTail(const char* commandLine);
