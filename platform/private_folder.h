#pragma once
// A folder that only this user may use (the viewer's working folder), opened once and
// checked, and worked in relative to what was opened: a link planted in its place, or a
// folder of someone else's, is refused before anything in it is listed or removed.
//
// POSIX: the folder is opened with O_NOFOLLOW | O_DIRECTORY and must be a directory
// owned by this user with no permission for group or others (a folder of ours that is
// wider is narrowed to 0700 through the open descriptor); every listing, look-up and
// removal is relative to that descriptor (fstatat, unlinkat), so a folder renamed or
// replaced meanwhile is never reached through its old name.
// Windows: the folder is opened without following a reparse point and must be a
// directory that is not one, owned by this user (or by the group the system makes this
// user's objects owned by, as for an elevated administrator). The handle is kept open
// without delete sharing for as long as this object lives, so the folder cannot be
// renamed, removed or replaced by a junction meanwhile; names inside are never followed
// when they are reparse points.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_ops.h"

// What makes a file "the same file, unchanged" for the viewer: which file it is on its
// volume (FileIdentity), its size and when it was last written. A file saved over in
// place keeps its identity but changes its time or size; one written anew and renamed
// into place gets a new identity.
struct FileStamp {
  FileIdentity id;
  int64_t size = 0;
  int64_t modified = 0;  // nanoseconds since the epoch (POSIX) or 100 ns since 1601 (Windows)

  bool operator==(const FileStamp& o) const { return id == o.id && size == o.size && modified == o.modified; }
  bool operator!=(const FileStamp& o) const { return !(*this == o); }
  // One line of text ("volume file size modified", decimal), and back; Parse is false on
  // anything else.
  std::string ToText() const;
  bool Parse(const std::string& text);
};

enum class FolderRefusal {
  None,
  Missing,     // it could not be created or opened (the system's code says why)
  NotAFolder,  // a link, a reparse point, or not a folder at all
  NotOwned,    // a folder of another user's
  NotPrivate,  // others may use it, and it cannot be made private
};

class PrivateFolder {
 public:
  PrivateFolder() = default;
  ~PrivateFolder() { Close(); }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  // Creates the folder (one level) when it is missing, opens it and checks it as above.
  // None on success; otherwise nothing is held and *code (when given) holds the system's
  // code where there is one.
  FolderRefusal Open(const std::string& path, uint32_t* code = nullptr);
  void Close();
  bool IsOpen() const;

  // The folder's path as given to Open, and the path of a name inside it.
  const std::string& Path() const { return m_path; }
  std::string PathOf(const std::string& name) const;

  // The names of the plain files directly inside: no folders, links or reparse points.
  bool List(std::vector<std::string>* names) const;
  // The stamp of the plain file name (a link is not followed); false when it is
  // missing or not a plain file.
  bool Stamp(const std::string& name, FileStamp* stamp) const;
  // Removes the plain file name (never a link's target; a read-only mark is cleared
  // first and put back when the removal fails). 0 or the system's code.
  uint32_t Remove(const std::string& name) const;

 private:
  std::string m_path;
  intptr_t m_handle = -1;  // descriptor, or HANDLE on Windows
};

// Windows: copies the container's Zone.Identifier stream (the mark a browser or mail
// program leaves on what came from elsewhere) onto the file to, so that the system's own
// warnings see the plaintext as they would its container; the file's read-only mark is
// lifted for the copy and put back. True when there was a mark and it was copied.
// Elsewhere there is no such mark: false.
bool CopyOriginMark(const std::string& from, const std::string& to);
// The name of a file's mark stream as it would appear (Wine keeps a stream as a file of
// that name beside the file), or "" where there is none: a listed name that is one
// belongs to the file it marks.
std::string OriginMarkName(const std::string& name);
// The file whose mark stream name is, or "" when name is not a stream's.
std::string MarkedFileOf(const std::string& name);
