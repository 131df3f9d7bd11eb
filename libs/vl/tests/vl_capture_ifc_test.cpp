#include "vl/vl_capture_ifc.h"

#include "vl/vl_play_ifc.h"
#include "vlsys/vl_log.h"
#include "vltest/log_capture.h"
#include "vltest/ring_driver.h"
#include "vltest/window_sites.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr uint32_t n = 8192;

class CaptureWindow : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(capture_, nullptr); }

  // The frame of ts as the ring holds it.
  const int32_t* ring_frame(uint32_t index) const { return driver_.capture_ring() + index * 2; }

  vltest::WindowSites sites_;
  vltest::LogCapture log_;
  vltest::RingDriver driver_;
  VlCaptureIfc* capture_ = vl_mediadrv_audio_capture_ifc(&driver_);
};

// The counts themselves are the ring window's; here: where the pointers land.
TEST_F(CaptureWindow, ReadsAcrossTheRingEndAndTheTimestampWrapContinueAtTheRingStart) {
  driver_.set_current_timestamp(8292);
  driver_.fill_capture(8000, 292);
  VlMediaWindow lap = vl_capture_initialise_read("s1", capture_, 8100);
  EXPECT_EQ(lap.samples, ring_frame(8100));
  EXPECT_EQ(lap.samples[1], vltest::RingDriver::pattern(8100, 1));
  lap = vl_capture_initialise_read("s1", capture_, 8100 + lap.frames);
  EXPECT_EQ(lap.samples, ring_frame(0));
  EXPECT_EQ(lap.frames, 100);
  EXPECT_EQ(lap.samples[0], vltest::RingDriver::pattern(8192, 0));

  driver_.set_current_timestamp(10);
  driver_.fill_capture(4294967290U, 16);
  VlMediaWindow window = vl_capture_initialise_read("s1", capture_, 4294967290U);
  EXPECT_EQ(window.samples, ring_frame(n - 6));
  EXPECT_EQ(window.frames, 6);
  window = vl_capture_initialise_read("s1", capture_, 0);
  EXPECT_EQ(window.samples, ring_frame(0));
  EXPECT_EQ(window.frames, 10);
  EXPECT_EQ(window.samples[0], vltest::RingDriver::pattern(0, 0));
}

TEST_F(CaptureWindow, MessagesNameTheStreamTimestampAndDirection) {
  driver_.set_current_timestamp(1000);
  vl_capture_initialise_read("s1", capture_, 1000);
  EXPECT_TRUE(log_.contains(
      "vl_capture_initialise_read for stream s1: Timestamp 0x000003e8 exactly on border, no frames can be "
      "written."));

  driver_.set_current_timestamp(n + 100);
  const VlMediaWindow lost = vl_capture_initialise_read("s1", capture_, 0);
  EXPECT_EQ(lost.samples, nullptr);
  EXPECT_EQ(lost.frames, 100);
  EXPECT_TRUE(log_.contains(
      "vl_capture_initialise_read for stream s1: Timestamp 0x00000000 is out of bounds by 100 frames (late)."));

  driver_.set_current_timestamp(1000);
  const VlMediaWindow window = capture_->initialise_read(900);
  EXPECT_EQ(vl_capture_complete_read("s1", capture_, 900, window.samples, 150), -50);
  EXPECT_TRUE(log_.contains(
      "vl_capture_complete_read for stream s1: Timestamp 0x00000384 is out of bounds by -50 frames (early)."));
}

// A read of frames still to be captured: the count is negative and the
// pointer usable, and the read is refused all the same.
TEST_F(CaptureWindow, AReadAheadOfTheCaptureIsReported) {
  driver_.set_current_timestamp(1000);
  const VlMediaWindow window = vl_capture_initialise_read("s1", capture_, 1100);
  EXPECT_EQ(window.frames, -100);
  EXPECT_TRUE(log_.contains(
      "vl_capture_initialise_read for stream s1: Timestamp 0x0000044c is out of bounds by -100 frames (early)."));
}

// Each of the six message sites keeps its own once-per-second limit.
TEST(WindowWrappers, SixMessageSitesAreRateLimitedIndependently) {
  vltest::WindowSites sites;
  vltest::LogCapture log;
  vltest::RingDriver driver;
  VlCaptureIfc* capture = vl_mediadrv_audio_capture_ifc(&driver);
  VlPlayIfc* play = vl_mediadrv_audio_play_ifc(&driver);
  driver.set_current_timestamp(n + 1000);
  for (int round = 0; round < 3; ++round) {
    vl_capture_initialise_read("s", capture, n + 1000);                 // on border
    vl_capture_initialise_read("s", capture, 0);                        // overwritten
    vl_capture_complete_read("s", capture, n + 900, nullptr, 200);      // past the capture
    vl_play_initialise_write("s", play, n + 1000);                      // on border
    driver.set_stopping(true);
    vl_play_initialise_write("s", play, n + 1048);                      // refused
    driver.set_stopping(false);
    vl_play_complete_write("s", play, n + 990, nullptr, 10);            // already played
  }
  EXPECT_EQ(log.count("vl_capture_initialise_read for stream s: Timestamp 0x000023e8 exactly on border"), 1);
  EXPECT_EQ(log.count("vl_capture_initialise_read for stream s: Timestamp 0x00000000 is out of bounds"), 1);
  EXPECT_EQ(log.count("vl_capture_complete_read for stream s: Timestamp 0x00002384 is out of bounds by -100"), 1);
  EXPECT_EQ(log.count("vl_play_initialise_write for stream s: Timestamp 0x000023e8 exactly on border"), 1);
  EXPECT_EQ(log.count("vl_play_initialise_write for stream s: Timestamp 0x00002418 is out of bounds by 0"), 1);
  EXPECT_EQ(log.count("vl_play_complete_write for stream s: Timestamp 0x000023de is out of bounds by -10"), 1);
  EXPECT_EQ(log.records().size(), 6u);
  for (const vltest::CapturedRecord& record : log.records()) {
    EXPECT_EQ(record.category, "velanto");
    EXPECT_EQ(record.priority, VL_LOG_WARN);
  }
}

TEST(WindowWrappers, ASuppressedWarningDoesNotUseUpItsSecond) {
  vltest::WindowSites sites;
  vltest::LogCapture log;
  vltest::RingDriver driver;
  VlCaptureIfc* capture = vl_mediadrv_audio_capture_ifc(&driver);
  driver.set_current_timestamp(1000);
  {
    vltest::LogPriority errors_only("velanto", VL_LOG_ERROR);
    vl_capture_initialise_read("s", capture, 1000);
  }
  vl_capture_initialise_read("s", capture, 1000);
  EXPECT_EQ(log.count("exactly on border"), 1);
}

// The ring driver's capture timers, as senders use them.
struct Calls {
  std::vector<uint32_t> ts;
  std::vector<uint64_t> ptp_ns;
  std::vector<uint32_t> current;
};

void record_call(void* user, uint32_t ts, uint64_t ptp_ns, uint32_t current_ts) {
  auto* calls = static_cast<Calls*>(user);
  calls->ts.push_back(ts);
  calls->ptp_ns.push_back(ptp_ns);
  calls->current.push_back(current_ts);
}

TEST(RingDriverTimers, FireFromTheirStartAtTheRaisedInterval) {
  vltest::RingDriver driver;
  VlCaptureIfc* capture = vl_mediadrv_audio_capture_ifc(&driver);
  driver.set_timestamp_relation(0, 5000000000ULL);
  driver.set_current_timestamp(960);
  Calls calls;
  uint32_t interval = 48;
  VlTimerHandle timer = capture->timer_set(1000, &interval, record_call, &calls);
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(interval, 128u);  // one block at least
  EXPECT_EQ(driver.fire_due_timers(), 0);
  driver.advance(40);
  EXPECT_EQ(driver.fire_due_timers(), 1);
  driver.advance(300);  // 1300: due at 1128 and at 1256
  EXPECT_EQ(driver.fire_due_timers(), 2);
  EXPECT_EQ(calls.ts, (std::vector<uint32_t>{1000, 1300, 1300}));
  EXPECT_EQ(calls.current, calls.ts);
  EXPECT_EQ(calls.ptp_ns[0], 5000000000ULL + 1000 * 1000000000ULL / 48000);
  EXPECT_EQ(capture->timestamp_relation().ts, 1300u);
  EXPECT_EQ(capture->timestamp_relation().ptp_ns, calls.ptp_ns[1]);
  EXPECT_EQ(vl_clockref_now(driver.clockref(), nullptr), calls.ptp_ns[1]);

  EXPECT_TRUE(capture->timer_remove(timer));
  EXPECT_FALSE(capture->timer_remove(timer));
  driver.advance(1000);
  EXPECT_EQ(driver.fire_due_timers(), 0);
}

}  // namespace
