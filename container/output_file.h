#pragma once
// The life of one output of an engine (a plaintext, a container) in a folder that others
// may write to: it is written to a temporary file beside its final path, created new and
// exclusively (never through an existing name or link: a name already taken by anything
// gets the next temporary name), and moved to its final name only once it is complete.
// Whatever happens, nothing but the temporary file this object created is ever written.
// The temporary file is readable by its owner alone until it is finished. A temporary
// name taken by what a run that died left (a plain file of this user's that no writer
// holds) is reclaimed: that file is removed and the name used.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_handle.h"
#include "platform/file_ops.h"

class OutputFile {
 public:
  explicit OutputFile(std::string finalPath) : m_final(std::move(finalPath)) {}
  // Removes the temporary file unless it was put in place.
  ~OutputFile() { Discard(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens file for writing on a new temporary file. Returns the creation's status: the
  // system's code of the first name that failed for another reason than being taken,
  // or the file-exists code when every temporary name is taken (AllNamesTaken). The
  // writer keeps file open until the output is put in place or discarded: an open file
  // is never taken for an abandoned one.
  uint32_t Create(FileHandle& file);
  bool AllNamesTaken() const { return m_allTaken; }
  // The temporary files of dead runs that Create removed, to be told of.
  const std::vector<std::string>& Reclaimed() const { return m_reclaimed; }

  // Puts the written, flushed and closed temporary file under the final name (see
  // MovePath for what replacing allows). 0 or the move's code; on failure the temporary
  // file is still there (for Discard).
  uint32_t PutInPlace(Replacing replacing);
  // The same under another final name, never replacing anything there (the temporary
  // file keeps its name; its final path becomes finalPath).
  uint32_t PutInPlaceAs(std::string finalPath);

  // Deletes the temporary file, if one was created and not put in place.
  void Discard();

  const std::string& FinalPath() const { return m_final; }
  const std::string& TemporaryPath() const { return m_temporary; }

 private:
  std::string m_final;
  std::string m_temporary;  // empty while no temporary file of ours exists
  bool m_allTaken = false;
  std::vector<std::string> m_reclaimed;
};

// --delete-source's removal of an input whose output is in place: the read-only mark goes
// first, and comes back when the removal fails. 0 or the removal's code.
uint32_t RemoveSource(const std::string& path);

// Tells the front end of each temporary file of a dead run that output's creation removed.
class FrontEnd;
void TellReclaimed(const OutputFile& output, FrontEnd& ui);
