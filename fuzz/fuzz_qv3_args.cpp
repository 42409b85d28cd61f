// libFuzzer target: qv3 decrypt's and qv3 encrypt's reading of their command lines
// (ParseRequest, cli/crypt_request.h), on any arguments: the input's parts cut at zero
// bytes, its length choosing the command.
//
// What must hold, beyond the sanitizers' checks:
// - the answer is to go on (0), the help (-1) or a usage error (2);
// - going on: at least one file, each an argument given, in their order; -o with exactly
//   one file and without --to-working-folder; --jobs from 0 (not given) to the most; no
//   option of the other command taken;
// - the request written back as a canonical command line (each option by its name, its
//   value apart, then "--" and the files) is read as the same request: what was read is
//   what the user can say, and a file named like an option still comes through "--".

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/crypt_request.h"

// qv3's own (qv3_main.cpp, which also holds main) say usage errors on standard error:
// here they are only counted.
void PrintError(const std::string&) {}
std::string UsageText(const std::string& command, const std::string& text) { return command + ": " + text; }

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::vector<std::string> Canonical(const CryptRequest& r, const PasswordOptions& p) {
  std::vector<std::string> args;
  if (r.deleteSource) args.push_back("--delete-source");
  if (r.toWorkingFolder) args.push_back("--to-working-folder");
  if (r.overwrite) args.push_back("--overwrite");
  if (r.longPassword) args.push_back("--long-password");
  if (r.recursive) args.push_back("--recursive");
  if (r.listSkipped) args.push_back("--list-skipped");
  if (r.jobs) args.insert(args.end(), {"--jobs", std::to_string(r.jobs)});
  if (!r.outputPath.empty()) args.insert(args.end(), {"--output", r.outputPath});
  if (p.source == PasswordOptions::Source::File) args.insert(args.end(), {"--password-file", p.file});
  if (p.source == PasswordOptions::Source::Stdin) args.push_back("--password-stdin");
  if (p.cp949) args.insert(args.end(), {"--password-encoding", "cp949"});
  if (p.empty) args.push_back("--empty-password");
  args.push_back("--");
  args.insert(args.end(), r.files.begin(), r.files.end());
  return args;
}

bool Same(const CryptRequest& a, const CryptRequest& b) {
  return a.encrypt == b.encrypt && a.deleteSource == b.deleteSource && a.toWorkingFolder == b.toWorkingFolder &&
         a.overwrite == b.overwrite && a.longPassword == b.longPassword && a.recursive == b.recursive &&
         a.listSkipped == b.listSkipped && a.jobs == b.jobs &&
         a.outputPath == b.outputPath && a.files == b.files;
}

bool Same(const PasswordOptions& a, const PasswordOptions& b) {
  return a.source == b.source && a.file == b.file && a.cp949 == b.cp949 && a.empty == b.empty;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args;
  for (size_t at = 0; at < bytes.size();) {
    const size_t end = std::min(bytes.find('\0', at), bytes.size());
    args.push_back(bytes.substr(at, end - at));
    at = end + 1;
  }
  CryptRequest request;
  request.encrypt = size % 2 == 1;
  PasswordOptions password;
  const int status = ParseRequest(args, &request, &password);
  Check(status == 0 || status == -1 || status == 2);
  if (status != 0) return 0;

  Check(!request.files.empty() && request.files.size() <= args.size());
  size_t from = 0;  // the files are arguments given, in order
  for (const std::string& file : request.files) {
    while (from < args.size() && args[from] != file) ++from;
    Check(from < args.size());
    ++from;
  }
  Check(request.outputPath.empty() || (request.files.size() == 1 && !request.toWorkingFolder));
  Check(request.jobs <= kMaxJobs);
  // A folder's files go beside themselves, and only its walk skips anything.
  if (request.recursive) Check(request.outputPath.empty() && !request.toWorkingFolder);
  Check(!request.listSkipped || request.recursive);
  if (request.encrypt) Check(!request.toWorkingFolder && !request.overwrite && request.outputPath.empty());
  else Check(!request.longPassword);

  CryptRequest again;
  again.encrypt = request.encrypt;
  PasswordOptions againPassword;
  Check(ParseRequest(Canonical(request, password), &again, &againPassword) == 0);
  Check(Same(request, again) && Same(password, againPassword));
  return 0;
}
