// The system's wall-clock time, and exact conversions between nanosecond time
// and 32-bit media timestamps.
#pragma once

#include "vlutil/vl_rational.h"

#include <cstdint>

// Seconds (truncated to 32 bits) and nanoseconds of UTC.
struct vl_utc_time {
  uint32_t seconds;
  uint32_t nanoseconds;
};

inline constexpr int vl_clock_realtime = 0;
inline constexpr int vl_clock_monotonic = 1;
inline constexpr uint64_t vl_ns_per_second = 1000000000ULL;

vl_utc_time vl_gettimeofday();

// CLOCK_MONOTONIC in nanoseconds; 0 when it cannot be read.
uint64_t vl_system_clock();

// CLOCK_REALTIME in nanoseconds (TAI with 0 leap seconds, as the system uses it).
uint64_t vl_realtime_ns();

uint64_t vl_utc2tai(vl_utc_time t, uint32_t leap_seconds);
vl_utc_time vl_tai2utc(uint64_t ns, uint32_t leap_seconds);

// floor(ns * rate) modulo 2^32.
uint32_t vl_time_ns2ts(uint64_t ns, vl_rational rate);

// Start time of the first tick at or after `reference_ns` whose timestamp is ts.
uint64_t vl_time_ts2ns(uint32_t ts, vl_rational rate, uint64_t reference_ns);

// Duration of `frames` frames at `rate` in nanoseconds, negative for a
// negative count, truncated toward zero; 0 for a rate without frames.
int64_t vl_time_frames2ns(int32_t frames, vl_rational rate);

// Prints "%llu.%03llu\n": seconds and milliseconds.
void vl_time_print(uint64_t ns);

// Hook for setting the system clock to PTP time; changes nothing here.
bool vl_set_system_time(uint64_t ns, uint32_t leap_seconds);

int vl_time_init();
void vl_time_exit();

// A heap copy of s (free with free()), or null.
char* vl_string_clone(const char* s);
