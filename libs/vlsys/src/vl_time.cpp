#include "vlsys/vl_time.h"

#include "vlsys/vl_log.h"
#include "vlsys/vl_wrap.h"

#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// An unsigned 96-bit number as three 32-bit words, most significant first.
struct U96 {
  uint32_t w[3];
};

U96 from_u64(uint64_t v) { return {{0, static_cast<uint32_t>(v >> 32), static_cast<uint32_t>(v)}}; }

uint64_t low64(const U96& v) { return (static_cast<uint64_t>(v.w[1]) << 32) | v.w[2]; }

// v * m modulo 2^96.
U96 mul32(const U96& v, uint32_t m) {
  U96 r{};
  uint64_t carry = 0;
  for (int i = 2; i >= 0; --i) {
    const uint64_t p = static_cast<uint64_t>(v.w[i]) * m + carry;
    r.w[i] = static_cast<uint32_t>(p);
    carry = p >> 32;
  }
  return r;
}

U96 add32(const U96& v, uint32_t a) {
  U96 r = v;
  uint64_t carry = a;
  for (int i = 2; i >= 0 && carry; --i) {
    const uint64_t s = static_cast<uint64_t>(r.w[i]) + carry;
    r.w[i] = static_cast<uint32_t>(s);
    carry = s >> 32;
  }
  return r;
}

__extension__ using u128 = unsigned __int128;

// A 96-bit dividend over a 64-bit divisor, exactly, with the compiler's
// 128-bit division: a bit-by-bit long division costs hundreds of cycles on
// every packet that asks for the media time.
U96 divide(const U96& dividend, uint64_t divisor) {
  const u128 n = (static_cast<u128>(dividend.w[0]) << 64) | (static_cast<u128>(dividend.w[1]) << 32) | dividend.w[2];
  const u128 q = n / divisor;
  return {{static_cast<uint32_t>(q >> 64), static_cast<uint32_t>(q >> 32), static_cast<uint32_t>(q)}};
}

bool usable(vl_rational rate) { return rate.nom > 0 && rate.den > 0; }

uint64_t ticks_divisor(vl_rational rate) {
  return static_cast<uint64_t>(rate.den) * vl_ns_per_second;
}

}  // namespace

vl_utc_time vl_gettimeofday() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  return {static_cast<uint32_t>(tv.tv_sec), static_cast<uint32_t>(tv.tv_usec) * 1000U};
}

uint64_t vl_system_clock() {
  timespec ts{};
  if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Error querying system monotonic clock");
    return 0;
  }
  return static_cast<uint64_t>(ts.tv_sec) * vl_ns_per_second + static_cast<uint64_t>(ts.tv_nsec);
}

uint64_t vl_realtime_ns() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * vl_ns_per_second + static_cast<uint64_t>(ts.tv_nsec);
}

uint64_t vl_utc2tai(vl_utc_time t, uint32_t leap_seconds) {
  const uint32_t seconds = t.seconds + leap_seconds;
  return static_cast<uint64_t>(seconds) * vl_ns_per_second + t.nanoseconds;
}

vl_utc_time vl_tai2utc(uint64_t ns, uint32_t leap_seconds) {
  return {static_cast<uint32_t>(ns / vl_ns_per_second) - leap_seconds,
          static_cast<uint32_t>(ns % vl_ns_per_second)};
}

uint32_t vl_time_ns2ts(uint64_t ns, vl_rational rate) {
  if (!usable(rate)) return 0;
  const U96 product = mul32(from_u64(ns), static_cast<uint32_t>(rate.nom));
  return divide(product, ticks_divisor(rate)).w[2];
}

int64_t vl_time_frames2ns(int32_t frames, vl_rational rate) {
  if (rate.nom <= 0 || rate.den <= 0) return 0;
  __extension__ using wide = __int128;
  return static_cast<int64_t>(wide{frames} * rate.den * static_cast<int64_t>(vl_ns_per_second) / rate.nom);
}

uint64_t vl_time_ts2ns(uint32_t ts, vl_rational rate, uint64_t reference_ns) {
  if (!usable(rate)) return 0;
  const U96 reference_tick = divide(mul32(from_u64(reference_ns), static_cast<uint32_t>(rate.nom)),
                                    ticks_divisor(rate));
  const uint32_t distance = vl_ts_ahead(reference_tick.w[2], ts);
  const U96 tick = add32(reference_tick, distance);
  const U96 scaled = mul32(mul32(tick, static_cast<uint32_t>(vl_ns_per_second)),
                           static_cast<uint32_t>(rate.den));
  return low64(divide(scaled, static_cast<uint64_t>(rate.nom)));
}

void vl_time_print(uint64_t ns) {
  std::printf("%llu.%03llu\n", static_cast<unsigned long long>(ns / vl_ns_per_second),
              static_cast<unsigned long long>((ns % vl_ns_per_second) / 1000000ULL));
}

bool vl_set_system_time(uint64_t, uint32_t) { return true; }

int vl_time_init() { return 0; }

void vl_time_exit() {}

char* vl_string_clone(const char* s) {
  if (!s) return nullptr;
  const std::size_t size = std::strlen(s) + 1;
  char* copy = static_cast<char*>(std::malloc(size));
  if (copy) std::memcpy(copy, s, size);
  return copy;
}
