#pragma once
// The failure an engine raises once a container's files are open: the message for the
// user and the system's error code (0 for none). Thrown and caught by value inside the
// engines only.

#include <cstdint>
#include <string>
#include <utility>

class SystemErrorException {
 public:
  SystemErrorException(std::string message, uint32_t code)
      : m_dwError(code), m_strMessage(std::move(message)) {}

  uint32_t m_dwError;
  std::string m_strMessage;
};
