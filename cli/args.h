#pragma once
// Reading a command's arguments: options first or mixed with the files, "--" ends the
// options, a lone "-" is a file. An option's value follows it ("--name VALUE") or is
// joined to it ("--name=VALUE").

#include <cstddef>
#include <string>
#include <vector>

class ArgReader {
 public:
  explicit ArgReader(const std::vector<std::string>& args) : m_args(args) {}

  // Moves to the next argument; false when none is left.
  bool Next();
  // True when the current argument is an option (not a file).
  bool IsOption() const { return m_isOption; }
  // The current argument; for an option, its name without "=VALUE".
  const std::string& Current() const { return m_current; }
  // Takes the current option's value, joined or the next argument; false when missing.
  bool TakeValue(std::string* value);
  // True when the current option was written with "=VALUE" (a flag must not be).
  bool HasJoinedValue() const { return m_hasJoined; }

 private:
  const std::vector<std::string>& m_args;
  size_t m_next = 0;
  bool m_optionsDone = false;
  bool m_isOption = false;
  bool m_hasJoined = false;
  std::string m_current;
  std::string m_joined;
};
