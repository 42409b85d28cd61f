#pragma once
// The ordered list of paths a job works through: filled in command-line order, consumed
// from the front by the engines (each started entry is removed when it is finished), and
// destroyed by whoever owns it last.

#include <cstddef>
#include <deque>
#include <string>

class FileList {
 public:
  void Append(std::string path) { m_paths.push_back(std::move(path)); }
  size_t Count() const { return m_paths.size(); }
  bool Empty() const { return m_paths.empty(); }
  const std::string& Front() const { return m_paths.front(); }
  void RemoveFront() { m_paths.pop_front(); }
  std::deque<std::string>::const_iterator begin() const { return m_paths.begin(); }
  std::deque<std::string>::const_iterator end() const { return m_paths.end(); }

 private:
  std::deque<std::string> m_paths;
};
