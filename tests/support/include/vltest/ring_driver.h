// An in-memory audio driver for tests of the media path: capture and play
// rings of N frames under the ring window rules, a media time the test sets,
// its own clock reference, and capture timers fired by hand.
//
//   vltest::RingDriver driver;                       // 8192 frames, 2 + 2 channels, 48 kHz
//   driver.set_current_timestamp(1000);
//   driver.fill_capture(0, 1000);                    // RingDriver::pattern at each frame
//   VlCaptureIfc* capture = vl_mediadrv_audio_capture_ifc(&driver);
//   ... code under test reads through capture, writes through the play interface ...
//   driver.advance(480);                             // C, clock and relation move on
//   driver.fire_due_timers();                        // timers whose start was reached
//   EXPECT_EQ(driver.played(2000, 48, 0), expected); // what the play ring holds
#pragma once

#include "vl/vl_mediadrv.h"
#include "vltest/manual_clock.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vltest {

extern const VlMediadrvTypeDescriptor ring_driver_ts;

class RingDriver final : public VlMediadrvAudio {
 public:
  struct Config {
    std::string name = "RingDriver";
    uint32_t buffer_frames = 8192;  // a power of two
    uint32_t capture_channels = 2;  // 0: no capture interface
    uint32_t play_channels = 2;     // 0: no play interface
    uint32_t block_frames = 128;    // timers run at least this many frames apart
    vl_rational rate = {48000, 1};
    uint64_t start_ptp_ns = 1000000000000000000ULL;  // PTP time of timestamp 0
  };

  using Pattern = std::function<int32_t(uint32_t ts, uint32_t channel)>;
  // The default capture content: distinct in every frame and channel.
  static int32_t pattern(uint32_t ts, uint32_t channel) {
    return static_cast<int32_t>((ts << 8) | (channel & 0xFFU));
  }

  RingDriver();
  explicit RingDriver(const Config& config);
  ~RingDriver() override;

  const VlTypeDescriptor& type() const override { return ring_driver_ts; }
  const char* name() override { return config_.name.c_str(); }
  VlClockref* clockref() override { return &clock_; }
  VlCaptureIfc* get_capture_ifc() override;
  VlPlayIfc* get_play_ifc() override;

  const Config& config() const { return config_; }
  ManualClock& clock() { return clock_; }

  // Media time: C of both interfaces. The clock reads the PTP time of C.
  void set_current_timestamp(uint32_t ts);
  uint32_t current_timestamp() const { return current_.load(); }
  void advance(uint32_t frames) { set_current_timestamp(current_timestamp() + frames); }
  // timestamp_relation() reports C with the PTP time that follows from this
  // pair at the driver's rate.
  void set_timestamp_relation(uint32_t ts, uint64_t ptp_ns);
  uint64_t ptp_time_of(uint32_t ts) const;
  // While stopping, the window operations refuse as a driver shutting down.
  void set_stopping(bool stopping) { stopping_.store(stopping); }

  // Ring contents by timestamp (ring index ts mod N).
  void fill_capture(uint32_t ts, uint32_t frames, const Pattern& fill = pattern);
  int32_t capture_sample(uint32_t ts, uint32_t channel) const;
  int32_t played_sample(uint32_t ts, uint32_t channel) const;
  // One channel of `frames` frames from ts in the play ring.
  std::vector<int32_t> played(uint32_t ts, uint32_t frames, uint32_t channel) const;
  void clear_play();
  const int32_t* capture_ring() const { return capture_ring_.data(); }
  const int32_t* play_ring() const { return play_ring_.data(); }

  // Capture timers: each one due (start reached by C) is called as
  // callback(user, C, PTP time of C, C) and moves on by its interval, until
  // none is due. Returns the number of calls.
  int fire_due_timers();
  std::size_t timer_count() const;
  // Runs `hook` once, inside the next timer_set after the timer exists: what
  // a timer thread and other threads may do before timer_set returns.
  void on_next_timer_set(std::function<void()> hook);

  // Window operations seen, for assertions.
  int completed_reads() const { return completed_reads_.load(); }
  int completed_writes() const { return completed_writes_.load(); }

 private:
  class Capture;
  class Play;
  friend class Capture;
  friend class Play;

  struct Timer {
    uint32_t due;
    uint32_t interval;
    vl_capture_timer_callback callback;
    void* user;
  };

  int32_t* frame(std::vector<int32_t>& ring, uint32_t ts, uint32_t channels);
  const int32_t* frame(const std::vector<int32_t>& ring, uint32_t ts, uint32_t channels) const;
  VlTimestampRelation relation() const;
  VlTimerHandle add_timer(uint32_t start_ts, uint32_t* interval, vl_capture_timer_callback callback, void* user);
  bool remove_timer(VlTimerHandle handle);

  Config config_;
  ManualClock clock_;
  VlMediaProperties capture_properties_;
  VlMediaProperties play_properties_;
  std::vector<int32_t> capture_ring_;
  std::vector<int32_t> play_ring_;
  std::atomic<uint32_t> current_{0};
  std::atomic<bool> stopping_{false};
  std::atomic<int> completed_reads_{0};
  std::atomic<int> completed_writes_{0};

  mutable std::mutex mutex_;  // relation anchor and timers
  uint32_t anchor_ts_ = 0;
  uint64_t anchor_ns_ = 0;
  std::list<Timer> timers_;  // stable addresses: a handle is a Timer*
  std::function<void()> timer_set_hook_;

  std::unique_ptr<Capture> capture_;
  std::unique_ptr<Play> play_;
};

}  // namespace vltest
