#pragma once
// The ordered list of files a job works through: filled in command-line order, or fed by
// a source that finds them as the job goes (a folder walk, FolderFiles), consumed from
// the front by the engines (each taken entry leaves the list), and destroyed by whoever
// owns it last.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <iterator>
#include <string>

#include "platform/file_ops.h"  // FileIdentity

// One file of a list, and how it came into it.
struct ListedFile {
  enum class Origin : uint8_t {
    Named,       // named by the user: opened by its name as given
    Found,       // found under a folder by the walk: opened only as the regular file the
                 // walk listed (never through a link, never a FIFO), its output never
                 // given a numbered name
    Unreadable,  // a folder (or an entry of one) the walk could not read: a failure of
                 // its own, nothing to work on
  };
  std::string path;
  Origin origin = Origin::Named;
  FileIdentity identity;  // Found: the file the walk listed
  FileIdentity folder;    // Found and Unreadable: the folder that holds it
  uint64_t size = 0;      // Found: its size when listed; Named: when it was listed, if known
  uint32_t code = 0;      // Unreadable: the system's error
};

// Where a list gets files that are found while the job runs.
class FileFeed {
 public:
  virtual ~FileFeed() = default;
  // The next file, waiting until it is known; false once there are no more. Called from
  // one thread at a time.
  virtual bool Next(ListedFile* file) = 0;
};

class FileList {
 public:
  void Append(std::string path) {
    ListedFile file;
    file.path = std::move(path);
    m_files.push_back(std::move(file));
  }
  void Append(ListedFile file) { m_files.push_back(std::move(file)); }
  // After the files appended, the list goes on with every file source gives (which must
  // outlive the list's use).
  void Follow(FileFeed* source) { m_source = source; }

  // The files appended and not yet taken (a source's are not counted).
  size_t Count() const { return m_files.size(); }
  bool Empty() const { return m_files.empty(); }
  const std::string& Front() const { return m_files.front().path; }
  void RemoveFront() { m_files.pop_front(); }

  // Takes the next file: an appended one, else the source's next (waiting for it).
  bool Take(ListedFile* file) {
    if (!m_files.empty()) {
      *file = std::move(m_files.front());
      m_files.pop_front();
      return true;
    }
    return m_source && m_source->Next(file);
  }

  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = std::string;
    using difference_type = std::ptrdiff_t;
    using pointer = const std::string*;
    using reference = const std::string&;
    explicit const_iterator(std::deque<ListedFile>::const_iterator at) : m_at(at) {}
    const std::string& operator*() const { return m_at->path; }
    const_iterator& operator++() {
      ++m_at;
      return *this;
    }
    bool operator==(const const_iterator& other) const { return m_at == other.m_at; }
    bool operator!=(const const_iterator& other) const { return m_at != other.m_at; }

   private:
    std::deque<ListedFile>::const_iterator m_at;
  };
  // The paths of the files appended and not yet taken.
  const_iterator begin() const { return const_iterator(m_files.begin()); }
  const_iterator end() const { return const_iterator(m_files.end()); }

 private:
  std::deque<ListedFile> m_files;
  FileFeed* m_source = nullptr;
};
