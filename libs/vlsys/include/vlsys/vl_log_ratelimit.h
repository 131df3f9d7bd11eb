// Rate limit for messages that can repeat at audio or packet rate: one per
// second per message.
#pragma once

#include "vlsys/vl_time.h"

// True when the message guarded by `last` may be written now; then `last`
// takes the current time. Written again only after more than 999,999,999 ns
// or when the clock went back.
bool vl_log_ratelimit_pass(vl_utc_time* last);

#define VL_LOG_RATELIMITED(last, category, priority, ...)             \
  do {                                                                \
    if (vl_log_ratelimit_pass(last)) VL_LOG(category, priority, __VA_ARGS__); \
  } while (0)
