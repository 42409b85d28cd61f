#include "platform/selection_message.h"

bool MakeSelectionMessage(const std::vector<std::string>& files, std::string* message) {
  message->clear();
  for (const std::string& file : files) {
    if (file.empty() || file.find('\0') != std::string::npos) return false;
    message->append(file).push_back('\0');
    if (message->size() > kSelectionMessageLimit) return false;
  }
  return true;
}

bool ReadSelectionMessage(const std::string& message, std::vector<std::string>& files) {
  if (message.size() > kSelectionMessageLimit || (!message.empty() && message.back() != '\0')) return false;
  std::vector<std::string> read;
  for (size_t at = 0; at < message.size();) {
    const size_t end = message.find('\0', at);
    if (end == at) return false;  // an empty name
    read.push_back(message.substr(at, end - at));
    at = end + 1;
  }
  files.insert(files.end(), read.begin(), read.end());
  return true;
}

std::string MakeTakenAnswer(const std::string& finishedEvent) { return kSelectionTaken + finishedEvent; }

bool ReadTakenAnswer(const std::string& answer, std::string* finishedEvent) {
  if (answer.empty() || answer[0] != kSelectionTaken || answer.find('\0') != std::string::npos ||
      answer.size() > kSelectionMessageLimit)
    return false;
  *finishedEvent = answer.substr(1);
  return true;
}
