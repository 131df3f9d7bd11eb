#include "generator_analyzer/vl_generator.h"

#include "generator_analyzer/generator_ramp.h"
#include "generator_analyzer/generator_sine.h"
#include "vl/vl_posix_ptp.h"
#include "vlsys/vl_time.h"
#include "vlsys/vl_wrap.h"
#include "vltest/log_capture.h"
#include "vltest/manual_clock.h"
#include "vltest/ticker_lanes.h"
#include "vltest/wait.h"
#include "vlutil/vl_json_ref.h"

#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr vl_rational rate = {48000, 1};
constexpr uint64_t second = 1000000000ULL;

struct Ticks {
  std::mutex mutex;
  std::vector<uint32_t> ts;
  std::vector<uint32_t> current;
  std::vector<uint32_t> realtime_ts;  // the real-time clock at the rate, read in the callback

  size_t count() {
    std::lock_guard<std::mutex> lock(mutex);
    return current.size();
  }
};

void on_tick(void* user, uint32_t ts, uint64_t ptp_ns, uint32_t current_ts) {
  auto* ticks = static_cast<Ticks*>(user);
  const uint32_t now_ts = vl_time_ns2ts(vl_realtime_ns(), rate);
  std::lock_guard<std::mutex> lock(ticks->mutex);
  // The PTP time passed is the time of the timestamp passed.
  ticks->ts.push_back(vl_time_ns2ts(ptp_ns, rate) == ts ? ts : ~ts);
  ticks->current.push_back(current_ts);
  ticks->realtime_ts.push_back(now_ts);
}

// A generator on a clock that only moves when the test says so.
class GeneratorOnManualClock : public ::testing::Test {
 protected:
  void SetUp() override {
    generator_.reset(vl_generator_ramp_ctor(rate, 1024, nullptr));
    ASSERT_NE(generator_, nullptr);
    capture_ = vl_mediadrv_audio_capture_ifc(generator_.get());
    ASSERT_NE(capture_, nullptr);
  }

  vltest::LogCapture log_;
  vltest::ManualClock clock_{"PTPv2 0", 100 * second};
  std::unique_ptr<VlGeneratorRamp> generator_;
  VlCaptureIfc* capture_ = nullptr;
};

TEST_F(GeneratorOnManualClock, CompleteReadChecksTheGeneratedBlock) {
  const VlMediaWindow window = capture_->initialise_read(1000);
  ASSERT_NE(window.samples, nullptr);
  EXPECT_EQ(window.frames, 1024);
  EXPECT_EQ(capture_->complete_read(1000, window.samples, 1024), 0);
  EXPECT_EQ(capture_->complete_read(1024, window.samples, 1000), 0);
  EXPECT_EQ(capture_->complete_read(1000, window.samples, 1025), 1);
  EXPECT_EQ(capture_->complete_read(1100, window.samples, 1000), 76);
  EXPECT_EQ(capture_->complete_read(990, window.samples, 10), -10);
}

TEST_F(GeneratorOnManualClock, TimerStartsAtTheTimestampAndTicksWithTheClock) {
  Ticks ticks;
  uint32_t interval = 64;  // below the block: kept as it is
  const uint32_t start = capture_->current_timestamp() + 480;
  VlTimerHandle timer = capture_->timer_set(start, &interval, on_tick, &ticks);
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(interval, 64u);
  EXPECT_EQ(clock_.last_start_ns(), 100 * second + second / 100);
  EXPECT_EQ(clock_.last_period_ns(), 1333333u);
  EXPECT_TRUE(log_.contains("set generator timer at 4800480 (= 0:01:40.010000000) with interval 64 (= "
                            "0.001333333)"));

  clock_.advance(second);
  EXPECT_EQ(clock_.fire_timers(), 1);
  ASSERT_EQ(ticks.current.size(), 1u);
  // The tick's own position: 100 s + 75750 periods of 64 frames, 25250 ns
  // before the clock's time.
  EXPECT_EQ(ticks.ts[0], 4847998u);
  EXPECT_EQ(ticks.current[0], 4848000u);

  EXPECT_TRUE(capture_->timer_remove(timer));
  EXPECT_EQ(clock_.timer_count(), 0u);
  EXPECT_EQ(clock_.fire_timers(), 0);
  EXPECT_FALSE(capture_->timer_remove(timer));
}

// The timers of one generator take turns being served first.
TEST_F(GeneratorOnManualClock, EachTickStartsWithTheNextTimer) {
  struct Firsts {
    int seen = 0;   // calls in the current tick
    int first[3] = {0, 0, 0};
  } firsts;
  struct Timer {
    Firsts* firsts;
    int id;
  } ids[3] = {{&firsts, 0}, {&firsts, 1}, {&firsts, 2}};
  const vltest::TickerLanes one_lane(1);
  auto note = [](void* user, uint32_t, uint64_t, uint32_t) {
    auto* t = static_cast<Timer*>(user);
    if (t->firsts->seen++ % 3 == 0) ++t->firsts->first[t->id];
  };
  std::vector<VlTimerHandle> timers;
  for (Timer& t : ids) {
    uint32_t interval = 48;
    timers.push_back(capture_->timer_set(0, &interval, note, &t));
  }
  EXPECT_EQ(clock_.timer_count(), 1u);  // one clock timer serves all three
  for (int tick = 0; tick < 6; ++tick) clock_.fire_timers();
  for (int f : firsts.first) EXPECT_EQ(f, 2);
  for (VlTimerHandle t : timers) EXPECT_TRUE(capture_->timer_remove(t));
}

TEST_F(GeneratorOnManualClock, TimerRemovalNeedsNoFurtherTick) {
  Ticks ticks;
  uint32_t interval = 480;
  VlTimerHandle timer = capture_->timer_set(0, &interval, on_tick, &ticks);
  ASSERT_NE(timer, nullptr);
  // No tick ever comes on this clock unless fired.
  EXPECT_TRUE(capture_->timer_remove(timer));
  EXPECT_TRUE(ticks.current.empty());
}

TEST_F(GeneratorOnManualClock, RefusesTimersThatCouldNeverTick) {
  uint32_t interval = 0;
  errno = 0;
  EXPECT_EQ(capture_->timer_set(0, &interval, on_tick, nullptr), nullptr);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(capture_->timer_set(0, nullptr, on_tick, nullptr), nullptr);
  EXPECT_EQ(clock_.timer_count(), 0u);
}

TEST_F(GeneratorOnManualClock, DestructionRemovesLeftOverTimers) {
  uint32_t interval = 480;
  ASSERT_NE(capture_->timer_set(0, &interval, on_tick, nullptr), nullptr);
  generator_.reset();
  EXPECT_EQ(clock_.timer_count(), 0u);
}

// The real thing: ticks from the system-clock reference's timer threads.
class GeneratorOnPosixPtp : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(vl_ptp_init(), 0);
    ASSERT_TRUE(vl_posix_ptp_init());
    generator_.reset(vl_generator_ramp_ctor(rate, 1024, nullptr));
    ASSERT_NE(generator_, nullptr);
    capture_ = vl_mediadrv_audio_capture_ifc(generator_.get());
  }
  void TearDown() override {
    generator_.reset();
    vl_posix_ptp_exit();
    vl_ptp_exit();
  }

  vltest::LogCapture log_;
  std::unique_ptr<VlGeneratorRamp> generator_;
  VlCaptureIfc* capture_ = nullptr;
};

TEST_F(GeneratorOnPosixPtp, CurrentTimestampFollowsTheRealTimeClock) {
  const uint32_t before = vl_time_ns2ts(vl_realtime_ns(), rate);
  const uint32_t current = capture_->current_timestamp();
  const uint32_t after = vl_time_ns2ts(vl_realtime_ns(), rate);
  EXPECT_LE(vl_ts_ahead(before, current), vl_ts_ahead(before, after));
}

TEST_F(GeneratorOnPosixPtp, TicksCarryTheCurrentTimestamp) {
  Ticks ticks;
  uint32_t interval = 480;  // 10 ms
  VlTimerHandle timer = capture_->timer_set(capture_->current_timestamp(), &interval, on_tick, &ticks);
  ASSERT_NE(timer, nullptr);
  EXPECT_TRUE(vltest::wait_until([&] { return ticks.count() >= 5; }, 5s));
  EXPECT_TRUE(capture_->timer_remove(timer));
  std::lock_guard<std::mutex> lock(ticks.mutex);
  ASSERT_GE(ticks.current.size(), 5u);
  for (std::size_t i = 0; i < ticks.current.size(); ++i) {
    EXPECT_LE(vl_ts_ahead(ticks.ts[i], ticks.current[i]), 480u);  // the tick's position, then how late it ran
    // Read just before the callback ran: behind the callback's own reading
    // by scheduling delay only.
    const uint32_t lag = vl_ts_ahead(ticks.current[i], ticks.realtime_ts[i]);
    EXPECT_LT(lag, 480u) << "tick " << i;
    if (i > 0) {
      EXPECT_NE(ticks.current[i], ticks.current[i - 1]);
    }
  }
}

// The timers of one generator are spread over the lanes, which tick at the
// same time: each reads whole, right frames of its own tick.
TEST_F(GeneratorOnPosixPtp, TimersOnTwoLanesReadTheFramesOfTheirTick) {
  const vltest::TickerLanes lanes(2);
  struct Reader {
    VlCaptureIfc* capture;
    uint32_t wanted;
    std::atomic<int> calls{0};
    std::atomic<int> wrong{0};
    std::atomic<long> thread{0};
  };
  auto read = [](void* user, uint32_t ts, uint64_t, uint32_t) {
    auto* r = static_cast<Reader*>(user);
    const VlMediaWindow window = r->capture->initialise_read_frames(ts, r->wanted);
    bool right = window.frames >= static_cast<int32_t>(r->wanted) &&
                 r->capture->complete_read(ts, window.samples, static_cast<int32_t>(r->wanted)) == 0;
    for (uint32_t k = 0; right && k < r->wanted; ++k) right = window.samples[k] == static_cast<int32_t>((ts + k) << 16);
    if (!right) ++r->wrong;
    r->thread = syscall(SYS_gettid);
    ++r->calls;
  };
  Reader readers[4] = {{capture_, 48}, {capture_, 49}, {capture_, 50}, {capture_, 51}};
  std::vector<VlTimerHandle> timers;
  for (Reader& r : readers) {
    uint32_t interval = 48;
    timers.push_back(capture_->timer_set(capture_->current_timestamp(), &interval, read, &r));
    ASSERT_NE(timers.back(), nullptr);
  }
  EXPECT_TRUE(vltest::wait_until([&] { return readers[3].calls.load() >= 20; }, 5s));
  for (VlTimerHandle timer : timers) EXPECT_TRUE(capture_->timer_remove(timer));
  for (Reader& r : readers) EXPECT_EQ(r.wrong.load(), 0) << "reading " << r.wanted;
  EXPECT_NE(readers[0].thread.load(), readers[1].thread.load());
}

TEST_F(GeneratorOnPosixPtp, RemovalDoesNotWaitForTheNextTick) {
  Ticks ticks;
  uint32_t interval = 48000 * 30;  // the next tick is 30 s away
  VlTimerHandle timer = capture_->timer_set(capture_->current_timestamp(), &interval, on_tick, &ticks);
  ASSERT_NE(timer, nullptr);
  ASSERT_TRUE(vltest::wait_until([&] { return ticks.count() == 1; }, 2s));  // the first tick comes at once
  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(capture_->timer_remove(timer));
  EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
  std::lock_guard<std::mutex> lock(ticks.mutex);
  EXPECT_EQ(ticks.current.size(), 1u);
}

// A ramp that counts the frames it makes.
class CountingRamp : public VlGenerator {
 public:
  explicit CountingRamp(VlTestDeviceParts parts) : VlGenerator(std::move(parts)) {}
  const char* name() override { return "CountingRamp"; }
  uint32_t generate(uint32_t ts, uint32_t frames) override {
    made += frames;
    for (uint32_t k = 0; k < frames; ++k) samples()[k] = static_cast<int32_t>((ts + k) << 16);
    return frames;
  }
  uint32_t made = 0;
};

// A reader gets the frames it asks for, made once: the streams of one
// generator read the same frames in one tick.
TEST(GeneratorReads, OnlyTheFramesAskedForAreMadeAndOnlyOnce) {
  vltest::ManualClock clock("PTPv2 0");
  VlTestDeviceParts parts;
  ASSERT_TRUE(vl_test_device_prepare(rate, 1024, 1, &parts));
  CountingRamp ramp(std::move(parts));
  VlCaptureIfc* capture = ramp.get_capture_ifc();
  struct Read {
    uint32_t ts;
    uint32_t wanted;  // 0: the whole window, as initialise_read offers it
    int32_t frames;   // offered
    uint32_t made;    // made for this read
  };
  const Read reads[] = {
      {1000, 48, 48, 48}, {1000, 48, 48, 0},     {1000, 6, 48, 0},     {1048, 48, 48, 48},
      {1048, 0, 1024, 1024}, {1048, 48, 1024, 0}, {1048, 5000, 1024, 0}, {990, 6, 6, 6},
  };
  for (const Read& r : reads) {
    const uint32_t before = ramp.made;
    const VlMediaWindow w = r.wanted ? capture->initialise_read_frames(r.ts, r.wanted) : capture->initialise_read(r.ts);
    ASSERT_NE(w.samples, nullptr);
    EXPECT_EQ(w.frames, r.frames) << r.ts << "/" << r.wanted;
    EXPECT_EQ(ramp.made - before, r.made) << r.ts << "/" << r.wanted;
    EXPECT_EQ(w.samples[0], static_cast<int32_t>(r.ts << 16));
    EXPECT_EQ(capture->complete_read(r.ts, w.samples, w.frames), 0);
    EXPECT_EQ(capture->complete_read(r.ts, w.samples, w.frames + 1), 1);
  }
}

// A generator that leaves generate empty.
class Bare : public VlGenerator {
 public:
  explicit Bare(VlTestDeviceParts parts) : VlGenerator(std::move(parts)) {}
  const char* name() override { return "Bare"; }
};

TEST(GeneratorDeathTest, GenerateIsAbstract) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  vltest::ManualClock clock("PTPv2 0");
  VlTestDeviceParts parts;
  ASSERT_TRUE(vl_test_device_prepare(rate, 128, 1, &parts));
  Bare bare(std::move(parts));
  EXPECT_DEATH((vltest::log_to_stderr(), vl_generator_generate(&bare, 0)),
               "pure virtual function call in vl_generator_generate!");
  EXPECT_DEATH((vltest::log_to_stderr(), bare.get_capture_ifc()->initialise_read(0)),
               "pure virtual function call in vl_generator_generate!");
}

}  // namespace
