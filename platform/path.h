#pragma once
// What a path names, as a directory listing sees it.

#include <string>

enum class PathKind { Missing, File, Directory };

// The path made absolute against the current folder (as given when it is already), before
// anything else looks at it: the same name then means the same file to every part of a
// run, whatever folder a later step runs in.
std::string AbsolutePath(const std::string& path);

PathKind LookUpPath(const char* path);

// Whether a command-line argument names something. Windows: a path under 3 bytes counts
// only as a drive ("X:"), true when the system knows a drive of that letter; any other
// path when a directory search finds anything for it (so a matching wildcard pattern
// counts too). Elsewhere: when the path exists.
bool PathExists(const char* path);
