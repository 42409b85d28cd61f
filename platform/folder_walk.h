#pragma once
// The tree under a folder, entry by entry, as it is walked: every entry at any depth in a
// stable order (each folder's names sorted bytewise, a sub-folder's tree where its name
// falls), each folder read once and whole (to sort it) when the walk reaches it, and
// nothing held but the sorted names of the folders on the way down, so that the first
// file comes as soon as its folder is read, however big the tree.
//
// Nothing that leads elsewhere is followed or opened: a symbolic link (on Windows every
// reparse point that names another place: a symbolic link, a junction, a mounted volume;
// a cloud placeholder or a deduplicated file is a file), a device, a socket or a FIFO is
// reported by its kind from the folder's listing and left alone, and a folder on another
// file system or mount (a bind mount included, where the system tells mounts apart) is
// reported as such and not entered. Each folder is opened relative to the one that listed
// it (POSIX: openat with O_NOFOLLOW | O_DIRECTORY) or, on Windows, opened as itself and
// checked by its handle (no reparse point that leads elsewhere; the volume and file ID
// the listing gave), so a folder swapped for a link during the walk is never entered.
// The root itself is the one name that may lead elsewhere: it was named by the user.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/file_ops.h"  // FileIdentity

enum class WalkEntryType : uint8_t {
  File,    // a regular file: size and identity as listed
  Link,    // a symbolic link, a junction, a mounted volume: anything that leads elsewhere
  Device,  // a block or character device
  Socket,
  Fifo,
  OtherFileSystem,  // a folder on another file system, or a mount point
  Unreadable,       // a folder that could not be opened or read whole: code says why
};

struct WalkEntry {
  std::string path;  // the root as given, then each name, joined by kPathSeparator
  WalkEntryType type = WalkEntryType::File;
  uint64_t size = 0;      // File: its size as listed
  FileIdentity identity;  // File: the file listed
  FileIdentity folder;    // the folder that holds the entry
  uint32_t code = 0;      // Unreadable: the system's error
};

class FolderWalk {
 public:
  // Nothing is read before Open.
  FolderWalk();
  ~FolderWalk();  // closes every folder still open
  FolderWalk(const FolderWalk&) = delete;
  FolderWalk& operator=(const FolderWalk&) = delete;

  // Opens root as the folder to walk (through a link when root is one) and reads it. 0,
  // or the system's code: root is missing, no folder, or cannot be read.
  uint32_t Open(const std::string& root);
  // The next entry below the root, in the walk's order; false once the walk is over
  // (also when Open failed). Folders are not entries themselves: the walk enters them,
  // and reports one only when it cannot (Unreadable), or may not (OtherFileSystem; Link
  // when what is there now leads elsewhere than the folder listed).
  bool Next(WalkEntry* entry);

 private:
  struct Impl;  // the platform's file
  std::unique_ptr<Impl> m_impl;
};
