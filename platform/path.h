#pragma once
// What a path names, as a directory listing sees it.

enum class PathKind { Missing, File, Directory };

PathKind LookUpPath(const char* path);
