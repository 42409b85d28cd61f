#pragma once
// The failure an engine, the reader or the writer raises once a container's files are
// open. Thrown and caught by value inside the container code and its direct callers.

#include <utility>

#include "container/failure.h"

class SystemErrorException {
 public:
  explicit SystemErrorException(Failure failure) : m_failure(std::move(failure)) {}
  SystemErrorException(FailureKind kind, uint32_t code, std::string path)
      : m_failure{kind, code, std::move(path)} {}

  Failure m_failure;
};
