#include "rtaudioifc/rtaudio_wrapper.h"

#include "vlsys/vl_log.h"

#include <RtAudio.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <type_traits>

static_assert(std::is_same_v<RtAudioStreamStatus, unsigned>);
static_assert(std::is_same_v<rtaw_callback, RtAudioCallback>);
static_assert(rtaw_format_sint32 == RTAUDIO_SINT32);
static_assert(rtaw_flag_schedule_realtime == RTAUDIO_SCHEDULE_REALTIME);
static_assert(rtaw_status_input_overflow == RTAUDIO_INPUT_OVERFLOW);
static_assert(rtaw_status_output_underflow == RTAUDIO_OUTPUT_UNDERFLOW);
static_assert(rtaw_api_alsa == RtAudio::LINUX_ALSA && rtaw_api_pulse == RtAudio::LINUX_PULSE &&
              rtaw_api_jack == RtAudio::UNIX_JACK && rtaw_api_asio == RtAudio::WINDOWS_ASIO);

class rtaudio_t {
 public:
  explicit rtaudio_t(RtAudio::Api api) : audio(api), api_(api) {
    if (api_ == RtAudio::WINDOWS_ASIO) asioDeviceIsOpen_ = true;
  }
  ~rtaudio_t() {
    if (api_ == RtAudio::WINDOWS_ASIO) asioDeviceIsOpen_ = false;
  }
  rtaudio_t(const rtaudio_t&) = delete;
  rtaudio_t& operator=(const rtaudio_t&) = delete;

  static bool asio_in_use() { return asioDeviceIsOpen_; }

  RtAudio audio;

 private:
  RtAudio::Api api_;
  static inline std::atomic<bool> asioDeviceIsOpen_{false};
};

namespace {

VL_LOG_CATEGORY(category, "velanto.audio.rtaudio")

constexpr std::size_t create_error_size = 256;
thread_local char create_error[create_error_size] = "";

void set_create_error(const char* text) { std::snprintf(create_error, sizeof create_error, "%s", text); }

// Info of a device that can be opened, or false after logging why not.
bool query_device(RtAudio& audio, unsigned index, RtAudio::DeviceInfo* info, const char* what) {
  try {
    *info = audio.getDeviceInfo(index);
  } catch (const RtAudioError& e) {
    VL_LOG(category(), VL_LOG_ERROR, "%s failed: %s", what, e.what());
    return false;
  } catch (const std::exception& e) {
    VL_LOG(category(), VL_LOG_ERROR, "%s failed: %s", what, e.what());
    return false;
  }
  // Some APIs answer an unknown index with an empty record instead of an error.
  if (!info->probed) {
    VL_LOG(category(), VL_LOG_ERROR, "%s failed: device %u could not be probed", what, index);
    return false;
  }
  return true;
}

uint32_t limit_channels(uint32_t requested, unsigned device_channels, unsigned duplex_channels) {
  uint32_t count = std::min<uint32_t>(requested, device_channels);
  if (duplex_channels != 0) count = std::min<uint32_t>(count, duplex_channels);
  return count;
}

// Runs `call` and reports an RtAudio error as false with `what` logged.
template <typename Call>
bool guarded(const char* what, Call call) {
  try {
    call();
    return true;
  } catch (const RtAudioError& e) {
    VL_LOG(category(), VL_LOG_ERROR, "%s failed: %s", what, e.what());
  } catch (const std::exception& e) {
    VL_LOG(category(), VL_LOG_ERROR, "%s failed: %s", what, e.what());
  }
  return false;
}

}  // namespace

uint32_t rtaw_get_apis() {
  std::vector<RtAudio::Api> apis;
  try {
    RtAudio::getCompiledApi(apis);
  } catch (const std::exception&) {
    return 0;
  }
  uint32_t mask = 0;
  for (RtAudio::Api api : apis)
    if (api > RtAudio::UNSPECIFIED && api <= rtaw_api_max) mask |= 1U << api;
  return mask;
}

rtaudio_t* rtaw_create_rtaudio_obj(int api) {
  set_create_error("");
  if (api <= 0 || api > rtaw_api_max || (rtaw_get_apis() & (1U << api)) == 0) {
    // RtAudio would quietly fall back to another API.
    set_create_error("RtAudio api not compiled in");
    return nullptr;
  }
  if (api == RtAudio::WINDOWS_ASIO && rtaudio_t::asio_in_use()) {
    set_create_error("A ASIO device is already open!");
    return nullptr;
  }
  try {
    return new rtaudio_t(static_cast<RtAudio::Api>(api));
  } catch (const std::exception& e) {
    set_create_error(e.what());
  }
  return nullptr;
}

void rtaw_destroy_rtaudio_obj(rtaudio_t* handle) {
  try {
    delete handle;
  } catch (const std::exception& e) {
    VL_LOG(category(), VL_LOG_ERROR, "RtAudio destruction failed: %s", e.what());
  }
}

const char* rtaw_create_error() { return create_error; }

unsigned rtaw_get_device_count(rtaudio_t* handle) {
  if (!handle) return 0;
  unsigned count = 0;
  if (!guarded("RtAudio::getDeviceCount", [&] { count = handle->audio.getDeviceCount(); })) return 0;
  return count;
}

std::unique_ptr<rtaw_device_info> rtaw_get_device_info(rtaudio_t* handle, unsigned index) {
  if (!handle) return nullptr;
  RtAudio::DeviceInfo info;
  if (!query_device(handle->audio, index, &info, "rtaw_get_device_info: RtAudio::getDeviceInfo")) return nullptr;
  if (info.outputChannels == 0 && info.inputChannels == 0) {
    VL_LOG(category(), VL_LOG_ERROR, "no channels found in audio device %s!", info.name.c_str());
    return nullptr;
  }
  if (info.sampleRates.empty()) {
    VL_LOG(category(), VL_LOG_ERROR, "no samplerates supported within audio device %s!", info.name.c_str());
    return nullptr;
  }
  try {
    auto record = std::make_unique<rtaw_device_info>();
    record->name = info.name;
    record->output_channels = info.outputChannels;
    record->input_channels = info.inputChannels;
    record->sample_rates.assign(info.sampleRates.begin(), info.sampleRates.end());
    return record;
  } catch (const std::bad_alloc&) {
    VL_LOG(category(), VL_LOG_FATAL, "rtaw_get_device_info: malloc failed!");
  }
  return nullptr;
}

bool rtaw_open_stream(rtaudio_t* handle, rtaw_stream_parameters* output, rtaw_stream_parameters* input,
                      unsigned long format, uint32_t sample_rate, uint32_t* buffer_frames, rtaw_callback callback,
                      void* user, const rtaw_stream_options* options) {
  if (!handle || !output || !input || !buffer_frames) return false;
  RtAudio& audio = handle->audio;
  RtAudio::DeviceInfo info;
  if (output->channel_count > 0) {
    if (!query_device(audio, output->device_id, &info, "RtAudio::getDeviceInfo")) return false;
    output->channel_count = limit_channels(output->channel_count, info.outputChannels, info.duplexChannels);
  }
  if (input->channel_count > 0) {
    if (!query_device(audio, input->device_id, &info, "RtAudio::getDeviceInfo")) return false;
    input->channel_count = limit_channels(input->channel_count, info.inputChannels, info.duplexChannels);
  }
  RtAudio::StreamParameters out{output->device_id, output->channel_count, output->first_channel};
  RtAudio::StreamParameters in{input->device_id, input->channel_count, input->first_channel};
  unsigned frames = *buffer_frames;
  const bool opened = guarded("RtAudio::openStream", [&] {
    RtAudio::StreamOptions stream_options;
    if (options) {
      stream_options.flags = options->flags;
      stream_options.numberOfBuffers = options->number_of_buffers;
      stream_options.streamName.assign(options->stream_name,
                                       strnlen(options->stream_name, sizeof options->stream_name));
      stream_options.priority = options->priority;
    }
    audio.openStream(out.nChannels > 0 ? &out : nullptr, in.nChannels > 0 ? &in : nullptr, format, sample_rate,
                     &frames, callback, user, options ? &stream_options : nullptr);
  });
  if (opened) *buffer_frames = frames;
  return opened;
}

bool rtaw_start_stream(rtaudio_t* handle) {
  return handle && guarded("RtAudio::startStream", [&] { handle->audio.startStream(); });
}

bool rtaw_stop_stream(rtaudio_t* handle) {
  return handle && guarded("RtAudio::stopStream", [&] { handle->audio.stopStream(); });
}

bool rtaw_close_stream(rtaudio_t* handle) {
  if (handle) guarded("RtAudio::closeStream", [&] { handle->audio.closeStream(); });
  return true;
}

uint32_t rtaw_get_stream_samplerate(rtaudio_t* handle) {
  uint32_t rate = 0;
  if (!handle || !guarded("RtAudio::getStreamSampleRate", [&] { rate = handle->audio.getStreamSampleRate(); }))
    return 0;
  return rate;
}
