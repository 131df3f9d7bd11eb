#include "vlsys/vl_log_ratelimit.h"

bool vl_log_ratelimit_pass(vl_utc_time* last) {
  const vl_utc_time now = vl_gettimeofday();
  const uint64_t now_ns = vl_utc2tai(now, 0);
  const uint64_t last_ns = vl_utc2tai(*last, 0);
  if (now_ns >= last_ns && now_ns - last_ns <= 999999999ULL) return false;
  *last = now;
  return true;
}
