// The media timeline of the RtAudio driver: the capture and play rings, and
// the block count C = block_frames x L that the audio callback advances and
// pulls back to the clock reference whenever the two drift apart by more
// than one block. The counter lock guards C, L, T0 and the ring accesses.
#pragma once

#include "vl/vl_clockref.h"
#include "vl/vl_media_ifc.h"
#include "vlsys/vl_log_ratelimit.h"
#include "vlsys/vl_mutex.h"
#include "vlsys/vl_time.h"

#include <log4c.h>

#include <atomic>
#include <cstdint>
#include <memory>

class VlAudioTimeline {
 public:
  struct Config {
    uint32_t ring_frames;  // a power of two that block_frames divides
    uint32_t play_channels;
    uint32_t capture_channels;
    uint32_t block_frames;
    vl_rational rate;  // positive
    VlClockref* clockref;
  };

  // Null with errno ENOMEM.
  static std::unique_ptr<VlAudioTimeline> make(const Config& config);
  ~VlAudioTimeline();
  VlAudioTimeline(const VlAudioTimeline&) = delete;
  VlAudioTimeline& operator=(const VlAudioTimeline&) = delete;

  // One audio callback: frames x channels samples each way; either pointer
  // may be null when its direction has no channels.
  void process(int32_t* output, const int32_t* input, uint32_t frames, unsigned status);

  // From now on callbacks play silence and the windows refuse.
  void stop() { stopping_.store(true); }
  bool stopping() const { return stopping_.load(); }
  // Set by the first callback.
  bool started() const { return started_.load(); }

  const Config& config() const { return config_; }
  uint32_t current() const { return sample_zero_time_stamp_.load(); }
  // (C, T0 + L x block duration), read together.
  VlTimestampRelation relation();

  VlMediaWindow read_window(uint32_t ts);
  int32_t read_overrun(uint32_t ts, int32_t frames);
  VlMediaWindow write_window(uint32_t ts);
  int32_t write_overrun(uint32_t ts, int32_t frames);

 private:
  VlAudioTimeline(const Config& config, std::unique_ptr<int32_t[]> play_ring,
                  std::unique_ptr<int32_t[]> capture_ring);

  bool serves(uint32_t frames);
  void begin_timeline();
  void copy_block(int32_t* output, const int32_t* input, uint32_t frames);
  void update_counters();
  uint64_t ptp_time_of_count(uint64_t loop_count) const;
  void log_status(unsigned status);

  const Config config_;
  log4c_category_t* const category_;  // taken once: the callback looks nothing up
  const std::unique_ptr<int32_t[]> play_ring_;
  const std::unique_ptr<int32_t[]> capture_ring_;

  std::atomic<uint32_t> sample_zero_time_stamp_{0};  // C
  std::atomic<bool> started_{false};
  std::atomic<bool> stopping_{false};

  vl_mutex counter_mutex_;
  uint64_t initial_ptp_time_ = 0;  // T0
  uint64_t audio_loop_count_ = 0;  // L

  // The callback's messages, each once a second with the count held back.
  VlRateLimit frames_limit_;
  VlRateLimit correction_limit_;
  VlRateLimit wrap_limit_;
  VlRateLimit overflow_limit_;
  VlRateLimit underflow_limit_;
};
