#pragma once
// File-system operations the engines and the viewer run need around FileHandle. Status
// codes as FileHandle: 0 for success, otherwise the system's error number.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// '\' on Windows, '/' elsewhere.
extern const char kPathSeparator;
// The longest path the system's file calls take, terminator included, in the units it
// counts: 260 UTF-16 units on Windows (MAX_PATH), 4096 bytes elsewhere. A longer path is
// refused as an invalid name, never cut.
extern const size_t kMaxPathLength;
// The length of a (UTF-8) path in those units.
size_t PathLength(const std::string& path);
// Whether path and its terminator fit kMaxPathLength.
inline bool PathFits(const std::string& path) { return PathLength(path) + 1 <= kMaxPathLength; }

// What tells one file from another: the device and inode, or on Windows the volume's
// serial number and the file's ID. Two names of one file (hard links, "a/../b" spellings)
// have the same identity.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t file = 0;
  bool operator==(const FileIdentity& other) const { return volume == other.volume && file == other.file; }
};
// The identity of what the name itself is (a link is not followed). False when nothing
// is there or it cannot be told.
bool IdentityOf(const char* path, FileIdentity* identity);

// Removes the file at path when it is what a run that died left: a plain file (not a
// link, folder or anything else) of this user's that no process holds open for writing
// (no writer's lock on it). On Windows the very file examined is removed (through the
// handle that examined it); elsewhere by its name, right after checking that the name
// still leads to it. True when it was removed.
bool RemoveAbandonedFile(const char* path);

// A read-only file (see SetReadOnly) is refused with the access-denied code (5, EACCES)
// on every system and for every user, root included: clear the mark first. A missing
// file gives the file-not-found code (2, ENOENT).
uint32_t DeletePath(const char* path);
// Read-only: the read-only attribute on Windows, no write permission bits elsewhere.
// Normal: attributes cleared on Windows, the owner's write bit restored elsewhere (the
// other permission bits are kept). A link is never followed: the change is refused.
uint32_t SetReadOnly(const char* path, bool readOnly);

// What MovePath may do to a file already at its destination.
enum class Replacing {
  Never,     // the already-exists code (FileExistsError()) when the name is taken at all
  Writable,  // replace a file there, but not a read-only one (the access-denied code)
  Always,    // replace a file there, read-only or not
};
// The code MovePath would refuse a move onto to with, found beforehand so that a run
// can refuse before it does the work: 0 when the move may go ahead.
uint32_t MoveRefusal(const char* to, Replacing replacing);
// Moves from (a closed file this program wrote; flushing its data is the caller's) to
// the name to, in one step, and makes the move durable. Whatever is at to is replaced as
// itself, never written through: a link there is replaced, not its target. Windows
// refuses to replace a read-only file and some compatible systems and POSIX renames do
// not: Writable refuses it on every system. On failure both names are as they were.
uint32_t MovePath(const char* from, const char* to, Replacing replacing);

// Whether the name is taken by anything: a file, a folder, a link (a dangling one
// included). A link is not followed.
bool NameTaken(const char* path);
// Whether the name is a symbolic link (Windows: any reparse point, a junction included).
bool IsLink(const char* path);
// Creates one folder level. 0 when the folder was created or a folder of that name
// already exists; the already-exists code (183, EEXIST) when a file has that name; the
// path-not-found code (3, ENOENT) when the parent is missing.
uint32_t CreateFolder(const char* path);
// Asks the system to flush the volume of the given drive letter; every failure is
// ignored (without administrative rights nothing happens). Does nothing elsewhere.
void FlushVolume(char driveLetter);

// The size of the file path leads to (a link followed), asked of its folder's entry: the
// file is never opened. 0 when it is missing or no regular file.
uint64_t SizeOfFile(const char* path);

// The identity of the folder path leads to (links followed all the way). False when
// there is no folder there or it cannot be told.
bool FolderIdentityOf(const char* path, FileIdentity* identity);

// Whether path is a file carrying the read-only mark of SetReadOnly. False when it is
// missing or not a file.
bool IsReadOnly(const char* path);

// The names of the files directly inside folder, in no particular order: no folders, and
// nothing that leads elsewhere (links, reparse points) or is not a plain file. False, with
// names empty, when the folder cannot be read.
bool ListFiles(const char* folder, std::vector<std::string>* names);

// Whether some program keeps the file from being changed or removed.
// Windows: the file cannot be opened for writing with read and write sharing, for any
// reason but its absence: another program holds it without write sharing, or it is
// read-only (for every user; an administrator under Wine as well).
// Elsewhere: it is read-only, or some process has it open (IsFileOpen).
// A missing file (or a missing folder on its path) is not in use.
bool IsFileInUse(const char* path);

// Whether some process, this one included, has the file open.
// Windows: opening it for reading without sharing fails because another handle is open
// (a sharing violation); any other failure (absence, a missing folder, a denial) says
// nothing of holders and counts as not open, so a wait on this always ends once no one
// holds the file. Elsewhere: an open descriptor of a process whose descriptors this user
// may read refers to it (processes of other users are not seen), found by what the
// descriptors' links in /proc say, so that no other file is ever looked at (one on a
// network file system that no longer answers would hang the look). A missing file is not
// open.
bool IsFileOpen(const char* path);
