#pragma once
// The viewer: no main window; everything happens in one pass at start-up (RunViewer), on
// the main thread, plus one worker thread per decryption job. Written once for every
// desktop; the windows, the launch of the associated program and the association come
// from the desktop's ViewerFrontEnd. Each platform's entry point constructs one ViewerApp
// before it runs and destroys it at exit.

#include <string>
#include <vector>

#include "container/file_list.h"
#include "jobs/job_runner.h"
#include "platform/private_folder.h"
#include "ui/viewer_front_end.h"

class ViewerApp {
 public:
  explicit ViewerApp(ViewerFrontEnd& ui);
  // Shuts the job runner down: waits until no job is active, then closes every finished
  // worker thread.
  ~ViewerApp() = default;

  // The run over the whole process command line (program path first), split with the
  // viewer's own rules. A first argument "/Encrypt" or "/DecryptHere" (any case) takes
  // that road with the arguments after it. Otherwise a '/' anywhere after the program
  // path selects the switch road:
  // the text from it, compared whole and ignoring case, "/RegServer" or "/UnRegServer"
  // records or removes the association; anything else does nothing. Otherwise the
  // arguments after the program path go to RunOnArguments. Always false.
  bool RunViewer(const char* commandLine);

  // Every road but the switch road, over arguments already split (program path not
  // included), for desktops whose paths hold '/':
  // - no input: no argument names an existing path; a box says so;
  // - cancel: the password prompt is cancelled; nothing is decrypted;
  // - decryption: every named path that exists is decrypted with the one password by one
  //   job: one file into the working folder, marked as this run's while the run lasts,
  //   then opened with its associated program and deleted (ViewPlaintext); two or more
  //   beside themselves, read-only, and nothing opened.
  // Each first removes what dead runs left in the working folder
  // (RemoveStalePlaintexts). The working folder is asked for once per run: the engine,
  // the clean-up and the viewing all use that one answer. A plaintext is opened only
  // when this run's job reports that it decrypted it. Always false.
  bool RunOnArguments(const std::vector<std::string>& arguments);

  // "Decrypt here" of a file manager (/DecryptHere, --decrypt-here): the road of several
  // containers whatever their number: one prompt, every plaintext beside its container,
  // read-only, nothing opened. A folder stands for every container under it (the folder
  // rule, FolderFiles), walked while the job runs. One progress window for the whole run;
  // failures listed in one box at the end. Always false.
  bool RunDecryptHere(const std::vector<std::string>& arguments);

  // "Encrypt with password…" of a file manager (/Encrypt, --encrypt): the password is
  // asked once, twice typed (AskNewPassword); then every file becomes a container beside
  // it, named as the engine names the containers of a password (a.txt.aqv3; where a file
  // named is taken, the first free "a (2).txt.aqv3" …; a file found in a folder is
  // refused instead), never over an existing file, the file itself untouched. A folder
  // stands for every file under it but containers (the folder rule), walked while the job
  // runs; one progress window's bar stands for the whole run. A failed file does not stop
  // the others; what failed is listed in one box at the end, and what was made, and
  // skipped, in a notice when everything went well. Always false.
  bool RunEncrypt(const std::vector<std::string>& arguments);

  // Decrypts files (taken over), each container tried with the candidates
  // (DecryptFiles); returns when the job has ended, with what became of each file.
  JobOutcome DecryptFileList(FileList* files, bool toWorkingFolder, bool deleteSource,
                             const PasswordCandidates& passwords, const std::string& workingFolder);

  // The process's exit status once a run has ended: 0 when everything asked was done, 1
  // when a failure was shown or the user cancelled (the prompt, or the progress
  // window), 2 for a usage error the front end found.
  int ExitStatus() const { return m_exitStatus; }
  void SetExitStatus(int status) { m_exitStatus = status; }

  // The switch road's two operations; a failure the desktop reports makes the exit
  // status 1.
  void RegisterFileType();
  void UnregisterFileType();

 private:
  // The decryption roads; decryptHere: the file manager's, every container beside itself
  // (one too), past failures, listed at the end.
  bool RunDecryption(const std::vector<std::string>& arguments, bool decryptHere);
  // What the run's containers are tried with: nothing to ask where each opens with the
  // empty password (a category extension), else the candidates of the text typed into
  // the prompt. False when the prompt was cancelled.
  bool AskOpeningPassword(const FileList& files, PasswordCandidates* passwords);
  // The encryption road's password: the form a new container is keyed with, asked again
  // after a refusal. False when the prompt was cancelled.
  bool AskMakingPassword(PasswordCandidates* password);
  // The single-file road, after the prompt; true when the plaintext was shown.
  bool DecryptAndView(FileList* files, const PasswordCandidates& passwords, const PrivateFolder& folder);

  ViewerFrontEnd& m_ui;
  JobRunner m_jobRunner;
  int m_exitStatus = 0;
};
