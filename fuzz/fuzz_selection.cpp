// libFuzzer target: the messages of the selection pipe (platform/selection_message.h),
// which another process writes.
//
// What must hold, beyond the sanitizers' checks:
// - any bytes: a message is read whole or refused whole (the list it is added to
//   untouched); one that is read is exactly the message its files make again;
// - the input's lines as a selection: they travel (when they can) and come back the
//   same, after what the list held;
// - any bytes as the gatherer's answer: read only when it is the taken mark and an
//   event's name, which is then exactly what an answer for that name holds.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/selection_message.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> before{"C:\\held.txt"};

  std::vector<std::string> files = before;
  if (ReadSelectionMessage(bytes, files)) {
    Check(files.size() >= before.size() && std::equal(before.begin(), before.end(), files.begin()));
    std::string again;
    Check(MakeSelectionMessage(std::vector<std::string>(files.begin() + 1, files.end()), &again));
    Check(again == bytes);
  } else {
    Check(files == before);
  }

  std::string event;
  if (ReadTakenAnswer(bytes, &event)) Check(MakeTakenAnswer(event) == bytes);
  else Check(bytes.empty() || bytes[0] != kSelectionTaken || bytes.find('\0') != std::string::npos ||
             bytes.size() > kSelectionMessageLimit);

  std::vector<std::string> lines;
  for (size_t at = 0; at < bytes.size();) {
    const size_t end = std::min(bytes.find('\n', at), bytes.size());
    lines.push_back(bytes.substr(at, end - at));
    at = end + 1;
  }
  std::string message;
  if (!MakeSelectionMessage(lines, &message)) {
    bool travels = true;
    size_t total = 0;
    for (const std::string& line : lines) {
      travels = travels && !line.empty() && line.find('\0') == std::string::npos;
      total += line.size() + 1;
    }
    Check(!travels || total > kSelectionMessageLimit);
    return 0;
  }
  files = before;
  Check(ReadSelectionMessage(message, files));
  Check(std::vector<std::string>(files.begin() + 1, files.end()) == lines);
  return 0;
}
