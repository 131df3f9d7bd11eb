#include "vlsys/vl_log_ratelimit.h"

bool vl_log_ratelimit_pass(vl_utc_time* last) {
  const vl_utc_time now = vl_gettimeofday();
  const uint64_t now_ns = vl_utc2tai(now, 0);
  const uint64_t last_ns = vl_utc2tai(*last, 0);
  if (now_ns >= last_ns && now_ns - last_ns <= 999999999ULL) return false;
  *last = now;
  return true;
}

bool VlRateLimit::pass_at(uint64_t now, uint32_t* suppressed) {
  uint64_t last = last_ns_.load(std::memory_order_relaxed);
  // Of several threads passing at once, one writes the message.
  if ((last != 0 && now >= last && now - last <= 999999999ULL) ||
      !last_ns_.compare_exchange_strong(last, now, std::memory_order_relaxed)) {
    held_back_.fetch_add(1, std::memory_order_relaxed);
    return false;
  }
  const uint32_t held_back = held_back_.exchange(0, std::memory_order_relaxed);
  if (suppressed) *suppressed = held_back;
  return true;
}
