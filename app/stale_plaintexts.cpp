#include "app/stale_plaintexts.h"

#include <map>
#include <set>
#include <sstream>

#include "container/naming.h"
#include "container/output_file.h"
#include "platform/file_handle.h"
#include "platform/file_ops.h"
#include "platform/lock_file.h"

const char kReportedListName[] = "reported.qv3list";

namespace {

const char kLockFileSuffix[] = ".qv3lock";
const char kRecordHeader[] = "tarvessin-viewer plaintext 1";

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() > suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string PlaintextOfLock(const std::string& lock) { return lock.substr(0, lock.size() - (sizeof kLockFileSuffix - 1)); }

// The reported list: one "identity name" a line.
std::set<std::string> ReadReported(const PrivateFolder& folder) {
  std::set<std::string> lines;
  FileHandle file;
  if (file.Open(folder.PathOf(kReportedListName).c_str(), FileMode::Read, Disposition::OpenExisting) != 0)
    return lines;
  std::string text;
  char buffer[4096];
  uint32_t got = 0;
  while (file.Read(buffer, sizeof buffer, &got) == 0 && got > 0 && text.size() < (1u << 20)) text.append(buffer, got);
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) lines.insert(line);
  return lines;
}

// Written as every output is: new beside, then moved into place.
void WriteReported(const PrivateFolder& folder, const std::set<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  OutputFile output(folder.PathOf(kReportedListName));
  FileHandle file;
  if (output.Create(file) != 0) return;
  uint32_t written = 0;
  if ((!text.empty() && file.Write(text.data(), static_cast<uint32_t>(text.size()), &written) != 0) ||
      file.Close() != 0)
    return;
  output.PutInPlace(Replacing::Writable);
}

}  // namespace

std::string LockFileFor(const std::string& plaintext) { return plaintext + kLockFileSuffix; }

std::string PlaintextRecord::ToNote() const {
  return std::string(kRecordHeader) + "\n" + name + "\n" + stamp.ToText() + "\n" + container + "\n";
}

bool PlaintextRecord::FromNote(const std::string& note) {
  std::istringstream in(note);
  std::string header, readName, identityText, readContainer;
  if (!std::getline(in, header) || header != kRecordHeader || !std::getline(in, readName) ||
      !std::getline(in, identityText) || !std::getline(in, readContainer) || readName.empty())
    return false;
  FileStamp readIdentity;
  if (!readIdentity.Parse(identityText)) return false;
  name = readName;
  stamp = readIdentity;
  container = readContainer;
  return true;
}

std::vector<std::string> RemoveStalePlaintexts(const PrivateFolder& folder) {
  std::vector<std::string> names;
  if (!folder.List(&names)) return {};
  const std::set<std::string> present(names.begin(), names.end());

  // Every name is settled by the lock file of the plaintext it is (or is to become).
  std::set<std::string> settled = {kReportedListName};
  std::set<std::string> inCare;  // plaintexts of running viewers
  for (const std::string& name : names) {
    if (!EndsWith(name, kLockFileSuffix)) continue;
    const std::string lockPath = folder.PathOf(name);
    const std::string plaintext = PlaintextOfLock(name);
    if (IsLockFileHeld(lockPath.c_str())) {
      settled.insert(name);
      inCare.insert(plaintext);
      continue;
    }
    const std::string note = ReadLockFileNote(lockPath.c_str());
    PlaintextRecord record;
    const bool recorded = record.FromNote(note) && record.name == plaintext;
    // Lock files are made empty; anything else of that name is someone else's file.
    if (!recorded && !note.empty()) continue;
    settled.insert(name);
    // The partial outputs of a run that died while its job wrote.
    for (const std::string& other : names) {
      std::string output;
      if (OutputOfPartial(other, &output) && output == plaintext) {
        if (!IsFileOpen(folder.PathOf(other).c_str()) && folder.Remove(other) == 0) settled.insert(other);
      }
    }
    bool plaintextGone = !present.count(plaintext);
    FileStamp now;
    if (!plaintextGone && recorded && folder.Stamp(plaintext, &now) && now == record.stamp) {
      settled.insert(plaintext);
      if (!IsFileOpen(folder.PathOf(plaintext).c_str()) && folder.Remove(plaintext) == 0) plaintextGone = true;
    }
    if (plaintextGone) RemoveUnheldLockFile(lockPath.c_str());
  }

  // What is left is not this program's to remove.
  std::set<std::string> leftovers;
  std::vector<std::string> toReport;
  const std::set<std::string> reported = ReadReported(folder);
  for (const std::string& name : names) {
    if (settled.count(name) || !MarkedFileOf(name).empty()) continue;
    std::string output;
    if (inCare.count(name) || (OutputOfPartial(name, &output) && inCare.count(output))) continue;
    // The list's own temporary, left by a run that died writing it.
    if (OutputOfPartial(name, &output) && output == kReportedListName) {
      folder.Remove(name);
      continue;
    }
    FileStamp identity;
    if (!folder.Stamp(name, &identity)) continue;
    const std::string line = identity.ToText() + " " + name;
    leftovers.insert(line);
    if (!reported.count(line)) toReport.push_back(name);
  }
  if (leftovers != reported) WriteReported(folder, leftovers);
  return toReport;
}
