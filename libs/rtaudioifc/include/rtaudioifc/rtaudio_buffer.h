// The driver for real sound devices, "VlAudioBuffer": one full-duplex
// RtAudio stream feeding a capture ring and fed from a play ring, with a
// media timeline that follows the clock reference, and the capture timers
// that drive the RTP sender run on its thread "rtaudio_capture".
#pragma once

#include "rtaudioifc/rtaudio_wrapper.h"
#include "vl/vl_mediadrv.h"
#include "vlsys/vl_log_ratelimit.h"
#include "vlsys/vl_mutex.h"

#include <cstdint>
#include <memory>
#include <string>

class VlAudioTimeline;
class VlCaptureTimers;

extern const VlMediadrvTypeDescriptor vl_rtaudio_buffer_ts;

inline constexpr uint32_t vl_rtaudio_ring_frames = 8192;
inline constexpr const char* vl_rtaudio_default_sync_source = "PTPv2 0";
// How long construction waits for the first audio callback.
inline constexpr uint64_t vl_rtaudio_first_callback_timeout_ns = 2000000000ULL;

class VlAudioBuffer final : public VlMediadrvAudio {
 public:
  ~VlAudioBuffer() override;

  const VlTypeDescriptor& type() const override { return vl_rtaudio_buffer_ts; }
  const char* name() override { return device_name_.c_str(); }
  VlClockref* clockref() override { return play_properties_.clockref; }
  // Null for a direction opened without channels.
  VlCaptureIfc* get_capture_ifc() override;
  VlPlayIfc* get_play_ifc() override;

  const char* sync_source() const { return sync_source_.c_str(); }

 private:
  class Capture;
  class Play;
  struct StreamRequest {
    uint32_t play_channels;
    uint32_t capture_channels;
    uint32_t block_frames;
    vl_rational rate;
  };

  VlAudioBuffer(const char* device_name, const char* sync_source);

  // Each step false with errno; the destructor releases what was acquired.
  bool find_device();
  // Writes back the channel counts and the block size the stream opened with.
  bool open_stream(StreamRequest* request);
  bool prepare(const StreamRequest& request, uint32_t ring_frames, VlClockref* clockref);
  bool start_stream();
  bool wait_first_callback();
  void close_stream();

  friend VlAudioBuffer* vl_rtaudio_buffer_ctor(uint32_t, uint32_t, uint32_t, uint32_t*, vl_rational, const char*,
                                               const char*);
  friend VlAudioBuffer* vl_rtaudio_buffer_ctor_unattached(uint32_t, uint32_t, uint32_t, uint32_t, vl_rational,
                                                          VlClockref*);
  friend int rtaudio_callback(void*, void*, unsigned, double, unsigned, void*);

  std::unique_ptr<Play> play_;
  std::unique_ptr<Capture> capture_;
  std::string device_name_;
  std::string sync_source_;
  VlMediaProperties play_properties_{};
  VlMediaProperties capture_properties_{};
  std::unique_ptr<VlAudioTimeline> timeline_;
  std::unique_ptr<VlCaptureTimers> timers_;
  rtaw_handle rtaudio_;
  uint32_t device_index_ = 0;
  bool stream_open_ = false;
  bool running_ = false;
};

// Opens `device_name` (exact name as some RtAudio API lists it) for
// play_channels outputs and capture_channels inputs at `rate`, asking for
// *block_frames per callback and writing back the block size chosen; the
// channel counts are cut to what the device has. `sync_source` names the
// clock reference (null: "PTPv2 0"). Returns once the first audio callback
// ran; null with errno when anything fails (EINVAL, ENODEV, EIO, ETIMEDOUT,
// ENOMEM), with everything released.
VlAudioBuffer* vl_rtaudio_buffer_ctor(uint32_t ring_frames, uint32_t play_channels, uint32_t capture_channels,
                                      uint32_t* block_frames, vl_rational rate, const char* sync_source,
                                      const char* device_name);

// The same driver without an audio stream, timed by `clockref`: whoever
// holds it calls rtaudio_callback with the driver for every block, as an
// audio device would. Lets the timeline be driven block by block in tests.
VlAudioBuffer* vl_rtaudio_buffer_ctor_unattached(uint32_t ring_frames, uint32_t play_channels,
                                                 uint32_t capture_channels, uint32_t block_frames,
                                                 vl_rational rate, VlClockref* clockref);

// The audio callback; `driver` is the VlAudioBuffer. Always returns 0.
int rtaudio_callback(void* output, void* input, unsigned frames, double stream_time, unsigned status,
                     void* driver);

// Creates "velanto.audio.rtaudio" and registers VlAudioBuffer; exit
// unregisters it.
void vl_rtaudioifc_init();
void vl_rtaudioifc_exit();

// Forwarders to the mutex functions.
vl_mutex* rtaudio_ifc_mutex_ctor(vl_mutex* mutex);
vl_mutex* rtaudio_ifc_mutex_dtor(vl_mutex* mutex);
void rtaudio_ifc_mutex_lock(vl_mutex* mutex);
void rtaudio_ifc_mutex_unlock(vl_mutex* mutex);

// Diagnostic for a two-channel test pattern in the upper bits: channel 0
// counts up and channel 1 down by `step` (256 for 24-bit, 65536 for 16-bit
// samples) from frame to frame, continued from block to block.
struct VlCountUpDownCheck {
  uint32_t step;
  bool primed = false;
  uint32_t next[2] = {0, 0};
  vl_utc_time last_sample_log{};
  vl_utc_time last_block_log{};
};
// False when the block broke the pattern; mismatches are logged at debug,
// one message per second.
bool checkMemoryCountUpDown32(VlCountUpDownCheck* check, const char* name, const int32_t* samples,
                              uint32_t frames);
