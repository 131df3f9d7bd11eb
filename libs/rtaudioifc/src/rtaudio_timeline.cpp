#include "rtaudio_timeline.h"

#include "rtaudioifc/rtaudio_wrapper.h"
#include "vl/vl_ring_window.h"
#include "vlsys/vl_log.h"
#include "vlsys/vl_log_ratelimit.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

__extension__ using wide = __int128;

std::unique_ptr<int32_t[]> zeroed_ring(uint32_t frames, uint32_t channels) {
  if (channels == 0) return nullptr;
  return std::unique_ptr<int32_t[]>(new (std::nothrow) int32_t[static_cast<std::size_t>(frames) * channels]());
}

void zero(int32_t* samples, std::size_t count) {
  if (samples && count > 0) std::memset(samples, 0, count * sizeof(int32_t));
}

unsigned long long as_ull(wide value) { return static_cast<unsigned long long>(value); }

}  // namespace

std::unique_ptr<VlAudioTimeline> VlAudioTimeline::make(const Config& config) {
  auto play = zeroed_ring(config.ring_frames, config.play_channels);
  auto capture = zeroed_ring(config.ring_frames, config.capture_channels);
  if ((config.play_channels > 0 && !play) || (config.capture_channels > 0 && !capture)) {
    errno = ENOMEM;
    return nullptr;
  }
  std::unique_ptr<VlAudioTimeline> timeline(new (std::nothrow)
                                                VlAudioTimeline(config, std::move(play), std::move(capture)));
  if (!timeline) errno = ENOMEM;
  return timeline;
}

VlAudioTimeline::VlAudioTimeline(const Config& config, std::unique_ptr<int32_t[]> play_ring,
                                 std::unique_ptr<int32_t[]> capture_ring)
    : config_(config),
      category_(vl_log_category("velanto.audio.rtaudio")),
      play_ring_(std::move(play_ring)),
      capture_ring_(std::move(capture_ring)) {
  vl_mutex_ctor(&counter_mutex_);
}

VlAudioTimeline::~VlAudioTimeline() { vl_mutex_dtor(&counter_mutex_); }

void VlAudioTimeline::process(int32_t* output, const int32_t* input, uint32_t frames, unsigned status) {
  const std::size_t output_samples = static_cast<std::size_t>(frames) * config_.play_channels;
  if (stopping() || !serves(frames)) {
    zero(output, output_samples);
    return;
  }
  {
    VlLock lock(counter_mutex_);
    if (!started()) begin_timeline();
    copy_block(output, input, frames);
    update_counters();
  }
  if (stopping()) zero(output, output_samples);
  log_status(status);
}

// The counters advance one block per callback: any other block size would
// put C out of step with the rings.
bool VlAudioTimeline::serves(uint32_t frames) {
  if (frames != 0 && config_.ring_frames % frames == 0 && frames == config_.block_frames) return true;
  VL_LOG_SHARED_RATELIMITED_COUNTED(frames_limit_, category_, VL_LOG_WARN,
                                    "rtaudio_callback: block of %u frames instead of %u, playing silence", frames,
                                    config_.block_frames);
  return false;
}

void VlAudioTimeline::begin_timeline() {
  std::printf("mediaTime = %lu\n", 0UL);
  VL_LOG(vl_log_general(), VL_LOG_INFO, "mediaTime = %lu", 0UL);
  initial_ptp_time_ = vl_clockref_now(config_.clockref, nullptr);
  audio_loop_count_ = 0;
  sample_zero_time_stamp_.store(0);
  VL_LOG(category_, VL_LOG_INFO, "initialised sample zero timestamp to 0x%x", 0U);
  started_.store(true);
}

// The block at C goes into the capture ring; the play ring's block at C is
// played and cleared, so a block nobody refilled plays as silence next lap.
void VlAudioTimeline::copy_block(int32_t* output, const int32_t* input, uint32_t frames) {
  const std::size_t index = vl_ring_index(current(), config_.ring_frames);
  if (capture_ring_ && input) {
    const std::size_t samples = static_cast<std::size_t>(frames) * config_.capture_channels;
    std::memcpy(capture_ring_.get() + index * config_.capture_channels, input, samples * sizeof(int32_t));
  }
  if (play_ring_ && output) {
    const std::size_t samples = static_cast<std::size_t>(frames) * config_.play_channels;
    int32_t* block = play_ring_.get() + index * config_.play_channels;
    std::memcpy(output, block, samples * sizeof(int32_t));
    zero(block, samples);
  }
}

void VlAudioTimeline::update_counters() {
  const uint64_t now = vl_clockref_now(config_.clockref, nullptr);
  if (now != vl_clockref_now_failed && now >= initial_ptp_time_) {
    // E / nom is the elapsed time and D / nom the block duration in ns.
    const wide elapsed = static_cast<wide>(now - initial_ptp_time_) * config_.rate.nom;
    const wide block = static_cast<wide>(config_.block_frames) * config_.rate.den * static_cast<wide>(vl_ns_per_second);
    const wide off = elapsed - block * static_cast<wide>(audio_loop_count_);
    if (off > block || off < -block) {
      const uint64_t corrected = static_cast<uint64_t>(elapsed / block);
      VL_LOG_SHARED_RATELIMITED_COUNTED(
          correction_limit_, category_, VL_LOG_WARN,
          "rtaudio_callback with correction: audioLoopCount (old): %llu, audioLoopCount (new): %llu, ptpTime: %llu, "
          "ptpTimeDiff: %llu, initialPtpTime: %llu, frameDuration: %llu, asioDuration: %llu",
          static_cast<unsigned long long>(audio_loop_count_), static_cast<unsigned long long>(corrected),
          static_cast<unsigned long long>(now), static_cast<unsigned long long>(now - initial_ptp_time_),
          static_cast<unsigned long long>(initial_ptp_time_), as_ull(block / config_.rate.nom),
          as_ull(block * static_cast<wide>(audio_loop_count_) / config_.rate.nom));
      audio_loop_count_ = corrected;
    }
  }
  ++audio_loop_count_;
  const auto next = static_cast<uint32_t>(static_cast<uint64_t>(config_.block_frames) * audio_loop_count_);
  const uint32_t previous = sample_zero_time_stamp_.exchange(next);
  if (next <= previous) {
    VL_LOG_SHARED_RATELIMITED_COUNTED(wrap_limit_, vl_log_general(), VL_LOG_WARN,
                                      "sample_zero_time_stamp = %lu, prev = %lu, audioLoopCount: %llu",
                                      static_cast<unsigned long>(next), static_cast<unsigned long>(previous),
                                      static_cast<unsigned long long>(audio_loop_count_));
  }
}

// Exact: a block duration rounded to whole nanoseconds would drift from the
// counted blocks by a third of a nanosecond per block at 48 kHz.
uint64_t VlAudioTimeline::ptp_time_of_count(uint64_t loop_count) const {
  const wide frames = static_cast<wide>(loop_count) * config_.block_frames;
  const wide ns = frames * config_.rate.den * static_cast<wide>(vl_ns_per_second) / config_.rate.nom;
  return initial_ptp_time_ + static_cast<uint64_t>(ns);
}

void VlAudioTimeline::log_status(unsigned status) {
  if (status & rtaw_status_input_overflow)
    VL_LOG_SHARED_RATELIMITED_COUNTED(overflow_limit_, category_, VL_LOG_ERROR, "%s",
                                      "rtaudio_callback: input overflow");
  if (status & rtaw_status_output_underflow)
    VL_LOG_SHARED_RATELIMITED_COUNTED(underflow_limit_, category_, VL_LOG_ERROR, "%s",
                                      "rtaudio_callback: output underflow");
}

VlTimestampRelation VlAudioTimeline::relation() {
  VlLock lock(counter_mutex_);
  return {current(), ptp_time_of_count(audio_loop_count_)};
}

VlMediaWindow VlAudioTimeline::read_window(uint32_t ts) {
  if (stopping() || !capture_ring_) return {nullptr, 0};
  VlLock lock(counter_mutex_);
  const VlRingWindow window = vl_ring_read_window(ts, current(), config_.ring_frames);
  if (!window.servable) return {nullptr, window.frames};
  return {capture_ring_.get() + static_cast<std::size_t>(window.index) * config_.capture_channels, window.frames};
}

int32_t VlAudioTimeline::read_overrun(uint32_t ts, int32_t frames) {
  if (stopping()) return 0;
  VlLock lock(counter_mutex_);
  return vl_ring_read_overrun(ts, frames, current(), config_.ring_frames);
}

VlMediaWindow VlAudioTimeline::write_window(uint32_t ts) {
  if (stopping() || !play_ring_) return {nullptr, 0};
  VlLock lock(counter_mutex_);
  const VlRingWindow window = vl_ring_write_window(ts, current(), config_.ring_frames);
  return {play_ring_.get() + static_cast<std::size_t>(window.index) * config_.play_channels, window.frames};
}

int32_t VlAudioTimeline::write_overrun(uint32_t ts, int32_t frames) {
  if (stopping()) return 0;
  VlLock lock(counter_mutex_);
  return vl_ring_write_overrun(ts, frames, current(), config_.ring_frames);
}
