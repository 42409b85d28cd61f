#pragma once
// Windows only. The viewer: no main window; everything happens in one pass at start-up
// (RunViewer), on the main thread, plus one worker thread per decryption job.

#include "container/file_list.h"
#include "jobs/job_runner.h"
#include "jobs/win32_front_end.h"

class ViewerApp {
 public:
  ViewerApp();
  // Shuts the job runner down: waits until no job is active, then closes every finished
  // worker thread.
  ~ViewerApp() = default;

  // The run: switches, file list, password prompt, decryption, viewing. Always false.
  bool RunViewer();

  // Decrypts files (taken over) with the password; returns when the job has ended.
  bool DecryptFileList(FileList* files, bool toWorkingFolder, bool deleteSource, const char* password);

  void RegisterFileType();
  void UnregisterFileType();

 private:
  Win32FrontEnd m_frontEnd;
  JobRunner m_jobRunner;
};

extern ViewerApp theApp;
