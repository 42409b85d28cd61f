#pragma once
// What a path names, as a directory listing sees it.

enum class PathKind { Missing, File, Directory };

PathKind LookUpPath(const char* path);

// Whether a command-line argument names something. Windows: a path under 3 bytes counts
// only as a drive ("X:"), true when the system knows a drive of that letter; any other
// path when a directory search finds anything for it (so a matching wildcard pattern
// counts too). Elsewhere: when the path exists.
bool PathExists(const char* path);
