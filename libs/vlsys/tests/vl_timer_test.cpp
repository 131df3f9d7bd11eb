#include "vlsys/vl_timer.h"

#include "vlsys/vl_time.h"
#include "vltest/wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr uint64_t ms = 1000000ULL;

struct Counter {
  std::atomic<int> calls{0};
  std::atomic<int> running{0};
  std::atomic<int> overlaps{0};
  std::atomic<uint64_t> first_call_ns{0};
  std::atomic<uint64_t> second_call_ns{0};
  std::atomic<uint64_t> last_call_ns{0};
  std::chrono::milliseconds work{0};

  bool reaches(int n) {
    return vltest::wait_until([&] { return calls.load() >= n; }, 5s);
  }
};

void count(void* data) {
  auto* c = static_cast<Counter*>(data);
  if (c->running.fetch_add(1) != 0) c->overlaps++;
  const uint64_t now = vl_realtime_ns();
  if (c->calls == 0) c->first_call_ns = now;
  if (c->calls == 1) c->second_call_ns = now;
  c->last_call_ns = now;
  if (c->work.count() > 0) std::this_thread::sleep_for(c->work);
  c->calls++;
  c->running--;
}

TEST(Timer, NullCallbackIsRefused) {
  errno = 0;
  EXPECT_EQ(vl_timer_ctor(vl_clock_realtime, nullptr, nullptr), nullptr);
  EXPECT_EQ(errno, EINVAL);
}

TEST(Timer, CreatedDisarmed) {
  Counter c;
  vl_timer* timer = vl_timer_ctor(vl_clock_monotonic, count, &c);
  ASSERT_NE(timer, nullptr);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(c.calls, 0);
  const vl_timer_setting s = vl_timer_get(timer);
  EXPECT_EQ(s.remaining_ns, 0u);
  EXPECT_EQ(s.period_ns, 0u);
  vl_timer_dtor(timer);
}

TEST(Timer, FirstExpiryInThePastFiresAtOnceThenEveryPeriod) {
  Counter c;
  vl_timer* timer = vl_timer_ctor(vl_clock_realtime, count, &c);
  ASSERT_NE(timer, nullptr);
  const uint64_t armed = vl_realtime_ns();
  ASSERT_TRUE(vl_timer_set(timer, armed - 1000 * ms, 20 * ms));
  EXPECT_TRUE(c.reaches(10));
  vl_timer_dtor(timer);
  EXPECT_LT(c.first_call_ns - armed, 10 * ms);
  // From the second call on, on the period's grid.
  const uint64_t spacing = (c.last_call_ns - c.second_call_ns) / static_cast<uint64_t>(c.calls - 2);
  EXPECT_GE(spacing, 15 * ms);
  EXPECT_LE(spacing, 25 * ms);
}

TEST(Timer, GetReportsPeriodAndRemaining) {
  Counter c;
  vl_timer* timer = vl_timer_ctor(vl_clock_monotonic, count, &c);
  ASSERT_NE(timer, nullptr);
  ASSERT_TRUE(vl_timer_set(timer, vl_system_clock() + 500 * ms, 100 * ms));
  const vl_timer_setting s = vl_timer_get(timer);
  EXPECT_EQ(s.period_ns, 100 * ms);
  EXPECT_GT(s.remaining_ns, 400 * ms);
  EXPECT_LE(s.remaining_ns, 500 * ms);
  ASSERT_TRUE(vl_timer_set(timer, 0, 0));  // disarm
  EXPECT_EQ(vl_timer_get(timer).remaining_ns, 0u);
  vl_timer_dtor(timer);
  EXPECT_EQ(c.calls, 0);
}

TEST(Timer, OneShot) {
  Counter c;
  vl_timer* timer = vl_timer_ctor(vl_clock_monotonic, count, &c);
  ASSERT_NE(timer, nullptr);
  ASSERT_TRUE(vl_timer_set(timer, vl_system_clock() + 10 * ms, 0));
  EXPECT_TRUE(c.reaches(1));
  const vl_timer_setting s = vl_timer_get(timer);  // disarmed: no second call can come
  EXPECT_EQ(s.remaining_ns, 0u);
  EXPECT_EQ(s.period_ns, 0u);
  vl_timer_dtor(timer);
  EXPECT_EQ(c.calls, 1);
}

TEST(Timer, SlowCallbackNeverOverlaps) {
  Counter c;
  c.work = 25ms;
  vl_timer* timer = vl_timer_ctor(vl_clock_monotonic, count, &c);
  ASSERT_NE(timer, nullptr);
  ASSERT_TRUE(vl_timer_set(timer, vl_system_clock(), 2 * ms));
  EXPECT_TRUE(c.reaches(5));
  vl_timer_dtor(timer);
  EXPECT_EQ(c.overlaps, 0);
}

TEST(Timer, NoCallbackAfterDtorAndStopIsPrompt) {
  Counter c;
  c.work = 5ms;
  vl_timer* timer = vl_timer_ctor(vl_clock_monotonic, count, &c);
  ASSERT_NE(timer, nullptr);
  ASSERT_TRUE(vl_timer_set(timer, vl_system_clock(), 1 * ms));
  EXPECT_TRUE(c.reaches(2));
  const auto before = std::chrono::steady_clock::now();
  vl_timer_dtor(timer);
  const auto took = std::chrono::steady_clock::now() - before;
  const int calls = c.calls;
  EXPECT_EQ(c.running, 0);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(c.calls, calls);
  EXPECT_LT(took, 100ms);
}

TEST(Timer, ManyTimersCreateAndDestroy) {
  Counter c;
  for (int round = 0; round < 50; ++round) {
    vl_timer* timer = vl_timer_ctor(vl_clock_monotonic, count, &c);
    ASSERT_NE(timer, nullptr);
    ASSERT_TRUE(vl_timer_set(timer, vl_system_clock(), ms));
    vl_timer_dtor(timer);
  }
  EXPECT_EQ(c.overlaps, 0);
}

}  // namespace
