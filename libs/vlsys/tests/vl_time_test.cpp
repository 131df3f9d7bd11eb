#include "vlsys/vl_time.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

constexpr vl_rational rate48k = {48000, 1};

__extension__ typedef unsigned __int128 u128;

// Independent reference: floor(ns * nom / (den * 1e9)) in 128 bits.
uint32_t reference_ns2ts(uint64_t ns, vl_rational rate) {
  return static_cast<uint32_t>(static_cast<u128>(ns) * static_cast<uint32_t>(rate.nom) /
                               (static_cast<u128>(static_cast<uint32_t>(rate.den)) * 1000000000u));
}

uint64_t reference_ts2ns(uint32_t ts, vl_rational rate, uint64_t reference) {
  const u128 nom = static_cast<uint32_t>(rate.nom);
  const u128 den = static_cast<uint32_t>(rate.den);
  const u128 q = static_cast<u128>(reference) * nom / (den * 1000000000u);
  const u128 tick = q + static_cast<uint32_t>(ts - static_cast<uint32_t>(q));
  return static_cast<uint64_t>(tick * 1000000000u * den / nom);
}

TEST(TimeConversion, Ns2TsTruncatesAtTickBoundary) {
  EXPECT_EQ(vl_time_ns2ts(1000000000ULL, rate48k), 48000u);
  EXPECT_EQ(vl_time_ns2ts(20833, rate48k), 0u);
  EXPECT_EQ(vl_time_ns2ts(20834, rate48k), 1u);
  EXPECT_EQ(vl_time_ns2ts(0, rate48k), 0u);
}

TEST(TimeConversion, Ns2TsWrapsModulo2To32) {
  // 2^32 ticks at 48 kHz take 89478.485333... s.
  const uint64_t wrap_ns = (uint64_t{1} << 32) * 1000000000ULL / 48000;
  EXPECT_EQ(vl_time_ns2ts(wrap_ns + 1, rate48k), 0u);
  EXPECT_EQ(vl_time_ns2ts(wrap_ns - 20000, rate48k), 0xFFFFFFFFu);
  const uint64_t now_ns = 1765000000ULL * 1000000000ULL;
  EXPECT_EQ(vl_time_ns2ts(now_ns, rate48k), reference_ns2ts(now_ns, rate48k));
}

TEST(TimeConversion, Ts2NsResolvesRelativeToReference) {
  const uint64_t reference = 1765000000123456789ULL;
  const uint32_t ts = vl_time_ns2ts(reference, rate48k);
  const uint64_t start = vl_time_ts2ns(ts, rate48k, reference);
  EXPECT_LE(start, reference);
  EXPECT_LT(reference - start, 20834u);
  const uint64_t behind = vl_time_ts2ns(ts - 1, rate48k, reference);
  const double ahead_s = static_cast<double>(behind - reference) / 1e9;
  EXPECT_NEAR(ahead_s, 4294967295.0 / 48000.0, 0.001);  // about 24.9 hours
}

TEST(TimeConversion, Ts2NsAcrossWrap) {
  const uint64_t wrap_ns = (uint64_t{1} << 32) * 1000000000ULL / 48000;
  const uint64_t reference = wrap_ns * 3 - 50000;  // a few ticks before a multiple of 2^32 ticks
  const uint32_t ts = 2;                           // just after the wrap
  const uint64_t t = vl_time_ts2ns(ts, rate48k, reference);
  EXPECT_GT(t, reference);
  EXPECT_LT(t - reference, 200000u);
  // The returned time is the truncated tick start: one more nanosecond is
  // certainly inside the tick.
  EXPECT_EQ(vl_time_ns2ts(t + 1, rate48k), ts);
}

TEST(TimeConversion, RoundTripGivesTickStart) {
  const uint64_t x = 1765000000999999999ULL;
  const uint64_t start = vl_time_ts2ns(vl_time_ns2ts(x, rate48k), rate48k, x);
  EXPECT_LE(start, x);
  EXPECT_LT(x - start, 20834u);
  EXPECT_EQ(vl_time_ns2ts(start + 1, rate48k), vl_time_ns2ts(x, rate48k));
}

TEST(TimeConversion, RatesUpTo2To32TicksPerSecond) {
  const vl_rational fastest = {INT32_MAX, 1};
  const uint64_t ns = UINT64_MAX;
  EXPECT_EQ(vl_time_ns2ts(ns, fastest), reference_ns2ts(ns, fastest));
  const vl_rational fractional = {44100000, 1001};
  EXPECT_EQ(vl_time_ns2ts(ns, fractional), reference_ns2ts(ns, fractional));
}

TEST(TimeConversion, RandomizedCrossCheckAgainst128BitReference) {
  std::mt19937_64 random(12345);
  for (int i = 0; i < 200000; ++i) {
    const vl_rational rate = {static_cast<int32_t>(random() % INT32_MAX) + 1,
                              static_cast<int32_t>(random() % 1000) + 1};
    // Keep the tick index well inside 96 bits so that ts2ns needs no modulo.
    const uint64_t ns = random() >> (random() % 40);
    const uint32_t ts = static_cast<uint32_t>(random());
    ASSERT_EQ(vl_time_ns2ts(ns, rate), reference_ns2ts(ns, rate)) << ns << " " << rate.nom << "/" << rate.den;
    ASSERT_EQ(vl_time_ts2ns(ts, rate, ns), reference_ts2ns(ts, rate, ns))
        << ts << " " << ns << " " << rate.nom << "/" << rate.den;
  }
}

TEST(TimeConversion, UnusableRateGivesZero) {
  EXPECT_EQ(vl_time_ns2ts(1000000000ULL, {48000, 0}), 0u);
  EXPECT_EQ(vl_time_ts2ns(5, {0, 1}, 1000000000ULL), 0u);
}

TEST(UtcTime, RoundTripBefore2106) {
  for (uint64_t ns : {0ULL, 1ULL, 1765000000123456789ULL, 4294967295999999999ULL}) {
    EXPECT_EQ(vl_utc2tai(vl_tai2utc(ns, 37), 37), ns);
    EXPECT_EQ(vl_utc2tai(vl_tai2utc(ns, 0), 0), ns);
  }
  const vl_utc_time t = vl_tai2utc(1500000000123456789ULL, 0);
  EXPECT_EQ(t.seconds, 1500000000u);
  EXPECT_EQ(t.nanoseconds, 123456789u);
}

TEST(UtcTime, GettimeofdayAndClocks) {
  const vl_utc_time now = vl_gettimeofday();
  EXPECT_LT(now.nanoseconds, 1000000000u);
  EXPECT_EQ(now.nanoseconds % 1000, 0u);
  EXPECT_GT(vl_system_clock(), 0u);
  EXPECT_NEAR(static_cast<double>(vl_realtime_ns()), static_cast<double>(vl_utc2tai(now, 0)), 1e9);
  EXPECT_TRUE(vl_set_system_time(0, 0));
  EXPECT_EQ(vl_time_init(), 0);
}

TEST(TimePrint, SecondsAndMilliseconds) {
  testing::internal::CaptureStdout();
  vl_time_print(1234567891ULL);
  std::fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "1.234\n");
}

TEST(StringClone, CopiesWithTerminator) {
  char* copy = vl_string_clone("velanto");
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "velanto");
  std::free(copy);
  EXPECT_EQ(vl_string_clone(nullptr), nullptr);
}

}  // namespace

namespace {

TEST(FramesToNs, SignedDurationsAtAnyRate) {
  EXPECT_EQ(vl_time_frames2ns(48, {48000, 1}), 1000000);
  EXPECT_EQ(vl_time_frames2ns(-48, {48000, 1}), -1000000);
  EXPECT_EQ(vl_time_frames2ns(INT32_MIN, {48000, 1}), -44739242666666);
  EXPECT_EQ(vl_time_frames2ns(1001, {48000, 1001}), 20875020833);
  EXPECT_EQ(vl_time_frames2ns(1, {44100, 1}), 22675);
  EXPECT_EQ(vl_time_frames2ns(5, {0, 1}), 0);
}

}  // namespace
