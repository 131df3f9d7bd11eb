// Rate limit for messages that can repeat at audio or packet rate: one per
// second per message.
#pragma once

#include "vlsys/vl_time.h"

#include <atomic>
#include <cstdio>
#include <cstdint>

// True when the message guarded by `last` may be written now; then `last`
// takes the current time. Written again only after more than 999,999,999 ns
// or when the clock went back.
bool vl_log_ratelimit_pass(vl_utc_time* last);

#define VL_LOG_RATELIMITED(last, category, priority, ...)             \
  do {                                                                \
    if (vl_log_ratelimit_pass(last)) VL_LOG(category, priority, __VA_ARGS__); \
  } while (0)

// The same rule for a message that several threads write: one shared
// limit, without a lock.
class VlRateLimit {
 public:
  bool pass() { return pass_at(vl_realtime_ns(), nullptr); }
  // Like pass(); when it passes, *suppressed takes the number of messages
  // held back since the last one written.
  bool pass(uint32_t* suppressed) { return pass_at(vl_realtime_ns(), suppressed); }
  // The rule at a given time; `suppressed` may be null.
  bool pass_at(uint64_t now_ns, uint32_t* suppressed);

 private:
  std::atomic<uint64_t> last_ns_{0};
  std::atomic<uint32_t> held_back_{0};
};

#define VL_LOG_SHARED_RATELIMITED(limit, category, priority, ...)   \
  do {                                                              \
    if ((limit).pass()) VL_LOG(category, priority, __VA_ARGS__);     \
  } while (0)

// The shared limit for a message that then says how many were held back:
// " (%u similar messages suppressed)" follows the text when any were.
#define VL_LOG_SHARED_RATELIMITED_COUNTED(limit, category, priority, format, ...)                          \
  do {                                                                                                    \
    uint32_t vl_suppressed_ = 0;                                                                          \
    if ((limit).pass(&vl_suppressed_)) {                                                                  \
      char vl_note_[48] = "";                                                                             \
      if (vl_suppressed_ > 0)                                                                             \
        std::snprintf(vl_note_, sizeof vl_note_, " (%u similar messages suppressed)", vl_suppressed_);    \
      VL_LOG(category, priority, format "%s", __VA_ARGS__, vl_note_);                                     \
    }                                                                                                     \
  } while (0)
