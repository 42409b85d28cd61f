#pragma once
// What a folder stands for when it is given to encryption or decryption, for every front
// end (the site's included): the regular files under it at any depth, in the walk's order
// (each folder's names sorted bytewise, a sub-folder's files where its name falls), each
// worked on beside itself as if it had been named; the folders themselves are neither
// copied nor moved. Encryption takes every regular file but a container (a name ending in
// one of the 14 extensions, any case) and a temporary of an output (NAME.qv3part,
// NAME.qv3part2 …); decryption takes every container. Everything else is skipped, counted
// by its kind and, on request, listed; nothing skipped is ever opened. A folder that
// cannot be read is a failure, not a skip.
//
// The kinds' names below are the ones every front end and the manual pages use; the
// site's file picker applies the same rule to the names a dropped folder holds (it sees
// no links, devices, sockets, FIFOs or mounts): tests/data/folder_rule.tsv is the table
// both the native and the site's tests check the rule against.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

enum class FolderWork : uint8_t { Encrypt, Decrypt };

enum class FolderSkip : uint8_t {
  Link,             // "link": a symbolic link, a junction or another reparse point
  Device,           // "device": a block or character device
  Socket,           // "socket"
  Fifo,             // "fifo": a named pipe
  OtherFileSystem,  // "other-file-system": a folder on another file system or a mount point
  Container,        // "container": encryption: the file already is a container
  NotContainer,     // "not-container": decryption: the file is no container
  Temporary,        // "temporary": a temporary file of an output (NAME.qv3part …)
};
inline constexpr size_t kFolderSkipKinds = 8;
using FolderSkipCounts = std::array<uint64_t, kFolderSkipKinds>;

// The kind's name: "link", "device", "socket", "fifo", "other-file-system", "container",
// "not-container", "temporary".
const char* FolderSkipName(FolderSkip kind);
// The kind as users read it, in Korean (shown through Tr).
const char* FolderSkipText(FolderSkip kind);

// Whether a regular file of this name (its last part, or a whole path: only the end
// counts) found in a folder is worked on; false with *skip set when it is skipped.
bool TakesFoundFile(FolderWork work, const std::string& name, FolderSkip* skip);

// "link 2, fifo 1" in the user's language: each kind skipped at least once, with its
// count, in the order of the kinds; empty when nothing was skipped.
std::string SkippedSummary(const FolderSkipCounts& counts);
