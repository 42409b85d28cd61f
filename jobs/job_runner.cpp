#include "jobs/job_runner.h"

#include <cstring>
#include <new>

#include "container/engines.h"
#include "crypto/secure.h"
#include "platform/catalog.h"

namespace {

const char kPasswordTooLong[] = N_("암호가 너무 깁니다");

}  // namespace

JobRunner::JobRunner(FrontEnd& ui) : m_ui(ui) {}

JobRunner::~JobRunner() {
  for (;;) {
    m_lock.Enter();
    const bool idle = m_nActiveJobs == 0;
    m_lock.Leave();
    if (idle) break;
    SleepMilliseconds(200);
  }
  m_lock.Enter();
  ReapFinishedThreads();
  m_lock.Leave();
}

void JobRunner::ReapFinishedThreads() {
  while (!m_finishedThreads.empty()) {
    ReapThread(m_finishedThreads.front());
    m_finishedThreads.pop_front();
  }
}

JobOutcome JobRunner::RunJob(FileList* files, const JobOptions& options, const char* password) {
  PasswordCandidates passwords;
  if (password) passwords.Add(password, std::strlen(password));
  return RunJob(files, options, passwords);
}

JobOutcome JobRunner::RunJob(FileList* files, const JobOptions& options, const PasswordCandidates& passwords) {
  JobOutcome outcome(files ? files->Count() : 0, FileOutcome::NotStarted);
  if (passwords.LongestBytes() > kMaxPassword) {
    m_ui.ShowErrorMessage(Tr(kPasswordTooLong), 0);
    delete files;
    return outcome;
  }
  const bool passwordGiven = !passwords.Empty() && !passwords[0].empty();
  if (!StartJobAndWait(files, passwords, options, passwordGiven, &outcome)) delete files;
  return outcome;
}

bool JobRunner::StartJobAndWait(FileList* files, const PasswordCandidates& passwords, const JobOptions& options,
                                bool passwordGiven, JobOutcome* outcome) {
  CryptJob* job = new (std::nothrow) CryptJob{files, options, passwords, {}, passwordGiven, this,
                                              options.reportTo ? options.reportTo : &m_ui, outcome};
  if (!job) {
    m_ui.ReportFailure({FailureKind::MemoryAllocation, 0, ""});
    return false;
  }

  // Held until the handle is stored and the job counted: the worker's first step takes
  // the lock, so it never sees the job half set up.
  m_lock.Enter();
  const ThreadHandle thread = StartThread(&JobRunner::JobThreadProc, job);
  if (!thread) {
    m_lock.Leave();
    delete job;
    m_ui.ReportFailure({FailureKind::ThreadCreation, 0, ""});
    return false;
  }
  job->thread = thread;
  ++m_nActiveJobs;
  m_lock.Leave();

  WaitServingMessages(thread, [this] { m_ui.ServeEvents(); });
  return true;
}

unsigned JobRunner::JobThreadProc(void* job) {
  CryptJob* j = static_cast<CryptJob*>(job);
  j->owner->ExecuteJob(j);
  return 0;
}

void JobRunner::ExecuteJob(CryptJob* job) {
  m_lock.Enter();
  ReapFinishedThreads();
  m_lock.Leave();

  if (job->files) {
    const JobOptions& asked = job->options;
    if (asked.encrypt) {
      EncryptOptions options;
      options.deleteSource = asked.deleteSource;
      options.useGenericExtension = job->passwordGiven;
      options.continuePastFailures = asked.continuePastFailures;
      options.numberTakenNames = asked.numberTakenNames;
      char password[kMaxPassword + 1] = {};
      ScopedWipe wipe(password, sizeof password);
      if (!job->passwords.Empty())
        std::memcpy(password, job->passwords[0].data(), job->passwords[0].size());
      *job->outcome = EncryptFiles(m_keyScheduleLock, *job->files, password, options, *job->ui);
    } else {
      DecryptOptions options;
      options.deleteSource = asked.deleteSource;
      options.toWorkingFolder = asked.toWorkingFolder;
      options.workingFolder = asked.workingFolder;
      options.overwrite = asked.overwrite;
      options.outputPath = asked.outputPath;
      options.continuePastFailures = asked.continuePastFailures;
      *job->outcome = DecryptFiles(m_keyScheduleLock, *job->files, job->passwords, options, *job->ui);
    }
  }
  delete job->files;
  job->files = nullptr;

  m_lock.Enter();
  --m_nActiveJobs;
  m_finishedThreads.push_back(job->thread);
  m_lock.Leave();
  delete job;
}

int JobRunner::ActiveJobs() {
  m_lock.Enter();
  const int n = m_nActiveJobs;
  m_lock.Leave();
  return n;
}

size_t JobRunner::FinishedThreads() {
  m_lock.Enter();
  const size_t n = m_finishedThreads.size();
  m_lock.Leave();
  return n;
}
