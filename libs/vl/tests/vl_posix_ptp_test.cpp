#include "vl/vl_posix_ptp.h"

#include "vlsys/vl_time.h"
#include "vltest/wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

class PosixPtp : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(vl_ptp_init(), 0);
    ASSERT_TRUE(vl_posix_ptp_init());
    reference_ = vl_posix_ptp_instance();
    ASSERT_NE(reference_, nullptr);
  }
  void TearDown() override {
    vl_posix_ptp_exit();
    vl_ptp_exit();
  }
  VlClockrefPtp* reference_ = nullptr;
};

TEST_F(PosixPtp, DescribesItselfAndIsFoundByDescription) {
  EXPECT_STREQ(vl_clockref_description(reference_), "PTPv2 0");
  EXPECT_EQ(vl_clockref_find("PTPv2 0"), reference_);
  EXPECT_STREQ(reference_->type().type_name, "VlPosixPtp");
  EXPECT_TRUE(vl_object_is_a(reference_, vl_clockref_ptp_ts));
  EXPECT_EQ(vl_clockref_ptp_get_max_offset(reference_), 1000u);
  const VlPtpStatus status = vl_clockref_ptp_get_status(reference_);
  EXPECT_EQ(status.flags, 0);
  EXPECT_EQ(status.port_state, 0u);
}

TEST_F(PosixPtp, CompatibleOnlyWithExactDescription) {
  EXPECT_TRUE(vl_clockref_compatible(reference_, "PTPv2 0"));
  EXPECT_FALSE(vl_clockref_compatible(reference_, "PTPv2 1"));
  EXPECT_FALSE(vl_clockref_compatible(reference_, "PTPv2 00"));
  EXPECT_FALSE(vl_clockref_compatible(reference_, "PTPv2"));
  EXPECT_FALSE(vl_clockref_compatible(reference_, ""));
}

TEST_F(PosixPtp, NowIsTheRealTimeClockAndClearsStatus) {
  int32_t status = 5;
  const uint64_t before = vl_realtime_ns();
  const uint64_t now = vl_clockref_now(reference_, &status);
  EXPECT_EQ(status, 0);
  EXPECT_GE(now, before);
  EXPECT_LT(now - before, 10000000u);
  VlPtpInterface* ifc = vl_ptp_ifc_get(vl_ptp_any_domain);
  ASSERT_NE(ifc, nullptr);
  EXPECT_NEAR(static_cast<double>(ifc->now()), static_cast<double>(vl_realtime_ns()), 1e7);
}

TEST_F(PosixPtp, InterfaceHasNoStatusAndRefusesProperties) {
  VlPtpInterface* ifc = vl_ptp_ifc_get(0);
  ASSERT_NE(ifc, nullptr);
  EXPECT_EQ(ifc->domain(), 0);
  EXPECT_EQ(ifc->leap_seconds(), 0u);
  VlPtpStatus status{};
  EXPECT_FALSE(ifc->get_ptp_status(&status));
  VlPtpProperties properties{};
  EXPECT_FALSE(ifc->set_ptp_properties(properties));
  EXPECT_FALSE(ifc->get_ptp_properties(&properties));
  EXPECT_EQ(ifc->max_offset_from_master(), 1000u);
}

TEST_F(PosixPtp, SecondInitIsRefusedAndKeepsTheFirst) {
  EXPECT_FALSE(vl_posix_ptp_init());
  EXPECT_EQ(vl_posix_ptp_instance(), reference_);
  EXPECT_EQ(vl_ptp_ifc_count(), 1);
}

TEST(PosixPtpLifetime, NotFoundAfterExit) {
  ASSERT_EQ(vl_ptp_init(), 0);
  ASSERT_TRUE(vl_posix_ptp_init());
  vl_posix_ptp_exit();
  EXPECT_EQ(vl_clockref_find("PTPv2 0"), nullptr);
  EXPECT_EQ(vl_ptp_ifc_count(), 0);
  vl_ptp_exit();
}

// Offsets of each tick from the last multiple of the period, in ns.
struct Ticks {
  std::mutex mutex;
  std::vector<uint64_t> offsets;
  uint64_t period;

  size_t count() {
    std::lock_guard<std::mutex> lock(mutex);
    return offsets.size();
  }
};

void on_tick(void* data) {
  auto* ticks = static_cast<Ticks*>(data);
  const uint64_t now = vl_realtime_ns();
  std::lock_guard<std::mutex> lock(ticks->mutex);
  ticks->offsets.push_back(now % ticks->period);
}

uint64_t median(std::vector<uint64_t> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

TEST_F(PosixPtp, TimersTickOnMultiplesOfTheirPeriodAndInPhase) {
  constexpr uint64_t period = 10000000;  // 10 ms
  Ticks a{{}, {}, period};
  Ticks b{{}, {}, period};
  VlTimerHandle ta = vl_clockref_timer_create(reference_, 0, period, on_tick, &a);
  std::this_thread::sleep_for(3ms);  // created at another phase
  VlTimerHandle tb = vl_clockref_timer_create(reference_, 0, period, on_tick, &b);
  ASSERT_NE(ta, nullptr);
  ASSERT_NE(tb, nullptr);
  EXPECT_TRUE(vltest::wait_until([&] { return a.count() >= 21 && b.count() >= 21; }, 5s));
  EXPECT_TRUE(vl_clockref_timer_remove(reference_, ta));
  EXPECT_TRUE(vl_clockref_timer_remove(reference_, tb));
  ASSERT_GE(a.offsets.size(), 21u);
  ASSERT_GE(b.offsets.size(), 21u);
  // The first tick fires at once, wherever the creation fell.
  const std::vector<uint64_t> steady_a(a.offsets.begin() + 1, a.offsets.begin() + 21);
  const std::vector<uint64_t> steady_b(b.offsets.begin() + 1, b.offsets.begin() + 21);
  EXPECT_LT(median(steady_a), 1000000u);
  EXPECT_LT(median(steady_b), 1000000u);
}

// Whatever start the caller asks for, the first tick comes at once: the
// first tick's offset within the second is where creation fell, not 0.
TEST_F(PosixPtp, FirstTickIsImmediate) {
  std::atomic<uint64_t> first{0};
  const uint64_t created = vl_realtime_ns();
  VlTimerHandle timer = vl_clockref_timer_create(reference_, created + 5000000000ULL, 1000000000ULL, [](void* data) {
    uint64_t expected = 0;
    static_cast<std::atomic<uint64_t>*>(data)->compare_exchange_strong(expected, vl_realtime_ns());
  }, &first);
  ASSERT_NE(timer, nullptr);
  EXPECT_TRUE(vltest::wait_until([&] { return first.load() != 0; }, 2s));
  vl_clockref_timer_remove(reference_, timer);
  ASSERT_NE(first.load(), 0u);
  EXPECT_LT(first.load() - created, 50000000u);  // start_ns (5 s ahead) is not used
}

// A timer of the same period goes on ticking after the removal: once it has
// ticked a few times, the removed one would have too.
TEST_F(PosixPtp, RemovedTimerNeverCallsBack) {
  constexpr uint64_t period = 1000000;
  Ticks removed{{}, {}, period};
  Ticks witness{{}, {}, period};
  VlTimerHandle timer = vl_clockref_timer_create(reference_, 0, period, on_tick, &removed);
  VlTimerHandle going_on = vl_clockref_timer_create(reference_, 0, period, on_tick, &witness);
  ASSERT_NE(timer, nullptr);
  ASSERT_NE(going_on, nullptr);
  ASSERT_TRUE(vltest::wait_until([&] { return removed.count() > 0; }, 2s));
  EXPECT_TRUE(vl_clockref_timer_remove(reference_, timer));
  const size_t calls = removed.count();
  const size_t seen = witness.count();
  EXPECT_TRUE(vltest::wait_until([&] { return witness.count() >= seen + 5; }, 2s));
  EXPECT_TRUE(vl_clockref_timer_remove(reference_, going_on));
  EXPECT_EQ(removed.count(), calls);
}

}  // namespace
