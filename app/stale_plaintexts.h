#pragma once
// Plaintexts left behind in the working folder. A viewer run that decrypts into the
// working folder marks the plaintext it is responsible for by holding its lock file
// (LockFileFor) from before its job starts until the plaintext is gone. A run that dies
// first (killed, power lost, logged off) cannot delete its plaintext; the next run
// removes it with RemoveStalePlaintexts.

#include <string>

// The lock file that marks plaintext (a path) as in a running viewer's care: the same
// path with ".qv3lock" appended.
std::string LockFileFor(const std::string& plaintext);

// Removes from folder (not below it) every file no running viewer is responsible for and
// no other process is using: plaintexts and partial outputs of dead runs, and lock files
// no one holds. A file is kept when a held lock file names it (a partial output counts as
// the plaintext it was to become); a read-only file has the mark cleared first and put
// back when the file is kept. Folders are never touched. A file that cannot be removed is
// left as it was; nothing is reported.
void RemoveStalePlaintexts(const std::string& folder);
