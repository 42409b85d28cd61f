#pragma once
// The life of a plaintext that is only viewed: written into the working folder by the
// run's job, recorded, handed to the program the desktop associates with its type, waited
// for until no program has it open, then removed, or, where the user changed it or a
// program saved something beside it, kept as the user chooses. Nothing the user wrote is
// ever removed without being asked.

#include <string>

#include "container/password_rule.h"
#include "platform/lock_file.h"
#include "platform/private_folder.h"

class JobRunner;
class ViewerFrontEnd;

// Opens the run's working folder (creating it when missing) and checks that it is a
// private folder of this user's (PrivateFolder); then clears what dead runs left in it
// (RemoveStalePlaintexts) and shows, once, a notice listing what it found there and left
// alone. False when the folder was refused: nothing in it or through it was touched, and
// the refusal has not been shown (WorkingFolderRefusal says it).
bool PrepareWorkingFolder(const std::string& path, PrivateFolder& folder, ViewerFrontEnd& ui);
// The text of the refusal of the folder at path.
std::string WorkingFolderRefusal(const std::string& path);

// What the viewing works with: all of it the run's, alive until ViewPlaintext returns.
struct ViewSession {
  const PrivateFolder& folder;  // the working folder, open and checked
  std::string name;             // the plaintext's name in it, written by the run's job
  std::string container;        // the container it was decrypted from
  const PasswordCandidates& passwords;  // what the container was opened with
  LockFile& mark;               // the run's lock file of the plaintext, held
  JobRunner& jobs;              // for encrypting changes back into the container
};

// The waits, in milliseconds.
struct ViewTimings {
  // How long a file may wait to be opened when the program it went to ended without
  // opening it (it handed the file to an instance already running) or no process was
  // started for it.
  unsigned handOff = 30000;
  // How long the file may stay in use after that before the notice says so.
  unsigned noticeAfter = 10000;
  // How long each turn of serving the desktop's windows lasts while waiting.
  unsigned serve = 100;
};

// The steps, in order:
// 1. The container's origin mark is copied onto the plaintext (Windows), then the
//    plaintext's identity is recorded in the run's lock file (PlaintextRecord).
// 2. A type that the desktop says runs code when opened is opened only when the user,
//    asked, chooses so; otherwise it is removed at once and the result is false.
// 3. The file is handed over. No program for it: it is removed, then the box
//    "연결된 프로그램이 없습니다." is shown; false. A program that ended without anyone
//    having opened the file counts as no process: as with a hand-over without one, the
//    run waits up to handOff for some program to open it.
// 4. The run waits until no process has the file open, by events where the system has
//    them; after noticeAfter a notice says the file is still in use, with "Delete now"
//    and "Keep waiting".
// 5. A file changed since step 1 and every file that appeared in the working folder
//    meanwhile (not another run's) is asked about (AskAboutEdit) and saved back, kept
//    beside the container or discarded; an unchanged plaintext is removed. A plaintext
//    that cannot be removed stays, with its record, for the next run's clean-up.
// True when the plaintext went to a program.
bool ViewPlaintext(const ViewSession& session, ViewerFrontEnd& ui, const ViewTimings& timings = ViewTimings());
