#include "cli/args.h"

bool ArgReader::Next() {
  m_isOption = false;
  m_hasJoined = false;
  m_joined.clear();
  while (m_next < m_args.size()) {
    const std::string& a = m_args[m_next++];
    if (!m_optionsDone && a == "--") {
      m_optionsDone = true;
      continue;
    }
    m_current = a;
    if (!m_optionsDone && a.size() > 1 && a[0] == '-') {
      m_isOption = true;
      const size_t equals = a.find('=');
      if (a.compare(0, 2, "--") == 0 && equals != std::string::npos) {
        m_current = a.substr(0, equals);
        m_joined = a.substr(equals + 1);
        m_hasJoined = true;
      }
    }
    return true;
  }
  return false;
}

bool ArgReader::TakeValue(std::string* value) {
  if (m_hasJoined) {
    *value = m_joined;
    m_hasJoined = false;
    return true;
  }
  if (m_next >= m_args.size()) return false;
  *value = m_args[m_next++];
  return true;
}
