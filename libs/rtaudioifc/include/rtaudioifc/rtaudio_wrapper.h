// Plain functions over the RtAudio library: one RtAudio object per handle,
// every RtAudio error turned into a result and a log message on
// "velanto.audio.rtaudio". Nothing of RtAudio shows through, not even its
// exceptions.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The RtAudio API numbers (bit n of rtaw_get_apis() stands for API n).
inline constexpr int rtaw_api_alsa = 1;
inline constexpr int rtaw_api_pulse = 2;
inline constexpr int rtaw_api_jack = 4;
inline constexpr int rtaw_api_asio = 7;
inline constexpr int rtaw_api_max = 31;

// Sample format of signed 32-bit samples, the one the driver uses.
inline constexpr unsigned long rtaw_format_sint32 = 0x8;
// Stream flag asking for real-time scheduling of the callback thread.
inline constexpr uint32_t rtaw_flag_schedule_realtime = 0x8;

// Stream status bits handed to the callback.
inline constexpr unsigned rtaw_status_input_overflow = 0x1;
inline constexpr unsigned rtaw_status_output_underflow = 0x2;

class rtaudio_t;

struct rtaw_stream_parameters {
  uint32_t device_id;
  uint32_t channel_count;  // in: requested; out: what the stream opened with
  uint32_t first_channel;
};

inline constexpr std::size_t rtaw_stream_name_size = 64;

struct rtaw_stream_options {
  uint32_t flags;
  uint32_t number_of_buffers;
  char stream_name[rtaw_stream_name_size];  // terminated; empty: the library's default
  int32_t priority;
};

struct rtaw_device_info {
  std::string name;
  uint32_t output_channels;
  uint32_t input_channels;
  std::vector<uint32_t> sample_rates;  // never empty
};

// RtAudio's callback: output and input buffers of `frames` frames of
// interleaved samples (null for a direction the stream does not have),
// stream time in seconds, status bits; returns 0 to carry on.
using rtaw_callback = int (*)(void* output, void* input, unsigned frames, double stream_time, unsigned status,
                              void* user);

// Bit n set for every API number n the library was compiled with.
uint32_t rtaw_get_apis();

// A handle whose RtAudio object uses `api`; null when the API is not
// compiled in or cannot be set up (only one handle on ASIO at a time).
rtaudio_t* rtaw_create_rtaudio_obj(int api);
// Closes a stream still open; null is ignored.
void rtaw_destroy_rtaudio_obj(rtaudio_t* handle);
// Why the last rtaw_create_rtaudio_obj of this thread failed.
const char* rtaw_create_error();

struct rtaw_handle_deleter {
  void operator()(rtaudio_t* handle) const { rtaw_destroy_rtaudio_obj(handle); }
};
using rtaw_handle = std::unique_ptr<rtaudio_t, rtaw_handle_deleter>;

unsigned rtaw_get_device_count(rtaudio_t* handle);
// Null when the device cannot be probed, has no channels or no sample rates.
std::unique_ptr<rtaw_device_info> rtaw_get_device_info(rtaudio_t* handle, unsigned index);

// Opens a stream on the devices of `output` and `input`. The channel counts
// are cut to what the devices have and written back; a direction left with
// no channels is opened without. *buffer_frames is written back with the
// block size chosen. `options` may be null. True on success.
bool rtaw_open_stream(rtaudio_t* handle, rtaw_stream_parameters* output, rtaw_stream_parameters* input,
                      unsigned long format, uint32_t sample_rate, uint32_t* buffer_frames, rtaw_callback callback,
                      void* user, const rtaw_stream_options* options);
bool rtaw_start_stream(rtaudio_t* handle);
bool rtaw_stop_stream(rtaudio_t* handle);
// When it returns, no callback of the stream runs or will run.
bool rtaw_close_stream(rtaudio_t* handle);
// The stream's actual rate, 0 when there is none.
uint32_t rtaw_get_stream_samplerate(rtaudio_t* handle);
