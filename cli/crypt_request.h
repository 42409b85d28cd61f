#pragma once
// What qv3 decrypt and qv3 encrypt were asked: their command lines read, apart from the
// work, so that the reading is tested (and fuzzed) by itself.

#include <string>
#include <vector>

#include "cli/password.h"

// What a command was asked, besides the password.
struct CryptRequest {
  bool encrypt = false;
  bool deleteSource = false;
  bool toWorkingFolder = false;
  bool overwrite = false;
  bool longPassword = false;
  bool recursive = false;    // a folder stands for the files under it
  bool listSkipped = false;  // each entry a folder's walk skips, on standard output
  unsigned jobs = 0;  // 0: as many as the processors this process may use
  std::string outputPath;
  std::vector<std::string> files;
};

// The most files worked on at once: each holds a few MiB of buffers and two threads.
constexpr unsigned kMaxJobs = 64;

// Reads the command's options and files into request (its encrypt set by the caller) and
// passwordOptions; returns 0 to go on, -1 when the help was printed, else the exit
// status of a usage error (said on standard error).
int ParseRequest(const std::vector<std::string>& args, CryptRequest* request, PasswordOptions* passwordOptions);
