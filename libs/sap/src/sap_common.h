// What the SAP announcer and directory share: their log category, the
// eventfd that wakes their threads, and the steady clock they plan with.
#pragma once

#include "vlsys/vl_log.h"

#include <log4c.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace sap {

using Clock = std::chrono::steady_clock;

VL_LOG_CATEGORY(category, "velanto.sap")

// Milliseconds from now until `when` for poll(): 0 when due, at most `cap`.
inline int poll_timeout_ms(Clock::time_point when, std::chrono::milliseconds cap) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now());
  return static_cast<int>(std::clamp(left, std::chrono::milliseconds(0), cap).count());
}

// Wakes a thread out of its poll().
class Wakeup {
 public:
  Wakeup() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~Wakeup() {
    if (fd_ >= 0) close(fd_);
  }
  Wakeup(const Wakeup&) = delete;
  Wakeup& operator=(const Wakeup&) = delete;

  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  void wake() {
    const uint64_t one = 1;
    (void)!write(fd_, &one, sizeof one);
  }
  void drain() {
    uint64_t count;
    (void)!read(fd_, &count, sizeof count);
  }

 private:
  int fd_;
};

}  // namespace sap
