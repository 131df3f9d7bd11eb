// Rate limit for messages that can repeat at audio or packet rate: one per
// second per message.
#pragma once

#include "vlsys/vl_time.h"

#include <atomic>
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
  bool pass();

 private:
  std::atomic<uint64_t> last_ns_{0};
};

#define VL_LOG_SHARED_RATELIMITED(limit, category, priority, ...)   \
  do {                                                              \
    if ((limit).pass()) VL_LOG(category, priority, __VA_ARGS__);     \
  } while (0)
