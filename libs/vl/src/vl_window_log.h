// Private to the window wrappers: one rate-limited warning per message site.
#pragma once

#include "vlsys/vl_log.h"
#include "vlsys/vl_log_ratelimit.h"

#include <atomic>
#include <cstdint>

namespace vl_window_log {

// Several RTP threads can reach the same site at once; the one that holds it
// writes (or is rate-limited), the others drop their message, which the rate
// limit would have dropped anyway.
struct Site {
  std::atomic_flag busy = ATOMIC_FLAG_INIT;
  vl_utc_time last{};

  bool enter() {
    const log4c_category_t* category = vl_log_general();
    // The rate limit is consulted only when the record would be written.
    if (!category || log4c_category_get_chainedpriority(category) < VL_LOG_WARN) return false;
    return !busy.test_and_set(std::memory_order_acquire);
  }
  void leave() { busy.clear(std::memory_order_release); }
};

inline const char* shown(const char* stream_name) { return stream_name ? stream_name : "(null)"; }

inline const char* direction(int32_t frames) { return frames < 0 ? "early" : "late"; }

}  // namespace vl_window_log

#define VL_WINDOW_WARN(site, ...)                                                     \
  do {                                                                                \
    if ((site).enter()) {                                                             \
      VL_LOG_RATELIMITED(&(site).last, vl_log_general(), VL_LOG_WARN, __VA_ARGS__);   \
      (site).leave();                                                                 \
    }                                                                                 \
  } while (0)
