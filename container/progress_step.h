#pragma once
// The engines' progress step after each piece of data: the view is touched only when
// more than 250 ms have passed since the last update, when the percentage has grown, or
// at the end; Cancel is noticed only here.

#include <chrono>
#include <cstdint>

#include "container/front_end.h"

class ProgressStep {
 public:
  // total: the bytes that make 100 %. The first interval starts now.
  ProgressStep(ProgressView& view, uint64_t total)
      : m_view(view), m_total(total), m_last(std::chrono::steady_clock::now()) {}

  // done of total bytes processed; more tells whether data remains. Returns true when
  // the user has cancelled.
  bool Update(uint64_t done, bool more) {
    const unsigned percent = m_total ? static_cast<unsigned>(done * 100 / m_total) : 100;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_last <= std::chrono::milliseconds(250) && more && percent <= m_lastPercent) return false;
    m_view.SetProgress(percent);
    if (m_view.IsCancelled()) return true;
    m_last = now;
    m_lastPercent = percent;
    return false;
  }

 private:
  ProgressView& m_view;
  uint64_t m_total;
  std::chrono::steady_clock::time_point m_last;
  unsigned m_lastPercent = 0;
};
