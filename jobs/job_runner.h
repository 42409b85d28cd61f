#pragma once
// Runs one crypt job (encrypt or decrypt every file of a list) on a worker thread of its
// own while the calling thread waits, keeping its own windows or events served. Owns the
// lock the engines hold around each AES key schedule build (apart from the one that
// guards its own bookkeeping), counts the jobs in progress and releases the handles of
// finished worker threads.

#include <list>
#include <string>

#include "container/engines.h"
#include "container/file_list.h"
#include "container/front_end.h"
#include "container/password_rule.h"
#include "platform/lock.h"
#include "platform/thread.h"

class JobRunner;

// What a job is asked to do besides its files and password.
struct JobOptions {
  bool encrypt = false;
  bool deleteSource = false;
  bool toWorkingFolder = false;  // decryption: into workingFolder instead of beside
  std::string workingFolder;     // the run's, resolved once by the caller
  bool overwrite = false;        // decryption beside: replace an existing file
  std::string outputPath;        // decryption of one container: its plaintext's path
  bool continuePastFailures = false;  // a failed file does not end the job
  bool numberTakenNames = false;      // encryption: a taken container name gets a number
  FrontEnd* reportTo = nullptr;  // the front end of this job's windows and failures, when
                                 // not the runner's own
};

// The record handed to the worker thread; allocated by StartJobAndWait, freed by the
// worker as its last act.
struct CryptJob {
  FileList* files;       // owned by the job from a successful start on
  JobOptions options;    // what the starter asked (toWorkingFolder, encrypt, deleteSource…)
  // Decryption: the candidates each container is tried with; encryption: the one
  // password, first. Wiped with the job.
  PasswordCandidates passwords;
  ThreadHandle thread;   // set by the starter before the worker can read it
  bool passwordGiven;    // a non-empty password was given: containers are named "aqv3"
  JobRunner* owner;
  FrontEnd* ui;          // where the engine reports: the runner's front end, or the job's
  JobOutcome* outcome;   // the starter's, which waits until the worker has ended
};

class JobRunner {
 public:
  // The longest password a job holds, in bytes.
  static constexpr size_t kMaxPassword = 256;

  explicit JobRunner(FrontEnd& ui);
  // Waits until no job is active (200 ms steps), then reaps every finished thread.
  ~JobRunner();
  JobRunner(const JobRunner&) = delete;
  JobRunner& operator=(const JobRunner&) = delete;

  // Takes over files (destroyed when the job is done or could not start) and returns only
  // when the job's worker thread has ended, with what became of each file (all
  // NotStarted when the job could not start). Decryption tries each container with the
  // candidates (DecryptFiles); encryption keys every container with the first (none: the
  // empty password). A candidate longer than kMaxPassword bytes is refused with a
  // message, nothing is started.
  JobOutcome RunJob(FileList* files, const JobOptions& options, const PasswordCandidates& passwords);
  // One password as it is (null: the empty one).
  JobOutcome RunJob(FileList* files, const JobOptions& options, const char* password);

  // True when the worker thread was started and has ended (*outcome filled); false when
  // the job was not started (the error has been shown).
  bool StartJobAndWait(FileList* files, const PasswordCandidates& passwords, const JobOptions& options,
                       bool passwordGiven, JobOutcome* outcome);

  // The body of a worker thread.
  void ExecuteJob(CryptJob* job);

  // For tests: jobs started and not yet finished, and handles waiting to be reaped.
  int ActiveJobs();
  size_t FinishedThreads();

 private:
  static unsigned JobThreadProc(void* job);
  void ReapFinishedThreads();  // with m_lock held

  Lock m_lock;              // the count of jobs and the finished threads
  Lock m_keyScheduleLock;   // held by the engines around each AES key schedule build
  int m_nActiveJobs = 0;
  std::list<ThreadHandle> m_finishedThreads;
  FrontEnd& m_ui;
};
