// Periodic timers on a POSIX clock, each calling back on a thread of its own.
#pragma once

#include <cstdint>

struct vl_timer;
using vl_timer_callback = void (*)(void* user_data);

struct vl_timer_setting {
  uint64_t remaining_ns;
  uint64_t period_ns;
};

// A disarmed timer on `clock` (vl_clock_realtime or vl_clock_monotonic), or
// null (errno EINVAL for a null callback).
vl_timer* vl_timer_ctor(int clock, vl_timer_callback callback, void* user_data);

// Arms the timer: first expiry absolute on its clock, then every period
// (0: once). A first expiry of 0 disarms it.
bool vl_timer_set(vl_timer* timer, uint64_t first_expiry_ns, uint64_t period_ns);

// Time to the next expiry and the period; both 0 when the query fails.
vl_timer_setting vl_timer_get(vl_timer* timer);

// Deletes the timer; when it returns, the callback runs no more. Must not be
// called from the timer's own callback.
void vl_timer_dtor(vl_timer* timer);
