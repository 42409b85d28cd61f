#pragma once
// Plaintexts left behind in the working folder. A viewer run that decrypts into the
// working folder marks the plaintext it is responsible for by holding its lock file
// (LockFileFor) from before its job starts until the plaintext is gone, and records in
// that lock file which file it wrote (PlaintextRecord) once its job has written it. A
// run that dies first (killed, power lost, logged off) cannot delete its plaintext; the
// next run removes it with RemoveStalePlaintexts, but only when it is still exactly the
// file that was recorded: whatever else it finds is the user's, and is reported.

#include <string>
#include <vector>

#include "platform/private_folder.h"

// The lock file that marks plaintext (a path or a name) as in a running viewer's care:
// the same path with ".qv3lock" appended.
std::string LockFileFor(const std::string& plaintext);

// What a run records of the plaintext it wrote: its name in the working folder, which
// file it is and how it was when written (its stamp) and the container it came from.
struct PlaintextRecord {
  std::string name;
  FileStamp stamp;
  std::string container;

  std::string ToNote() const;
  // False when note is not a record of this form.
  bool FromNote(const std::string& note);
};

// The clean-up at start, in folder (not below it; relative to the open folder, never
// through a link). Removed: a recorded plaintext whose run has ended (its lock file held
// by no one), that is still the file recorded and that no process has open, with its
// lock file; the partial outputs of such a run; lock files whose plaintext is gone.
// Kept without a word: what a running viewer is responsible for (its held lock file
// names it; a partial output counts as the plaintext it was to become), and a recorded
// plaintext some program still has open. Kept and reported: everything else (a plaintext
// changed after it was recorded, a file some program saved there, a plaintext no run
// recorded). Returns the names to report: those not reported by an earlier clean-up
// (the folder keeps the list of what it reported, so each is reported once). Folders are
// never touched.
std::vector<std::string> RemoveStalePlaintexts(const PrivateFolder& folder);

// The name of the folder's own list of what was reported: never reported itself.
extern const char kReportedListName[];
