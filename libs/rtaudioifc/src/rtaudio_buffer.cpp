#include "rtaudioifc/rtaudio_buffer.h"

#include "rtaudio_capture_timers.h"
#include "rtaudio_timeline.h"

#include "vl/vl_ring_window.h"
#include "vlsys/vl_log.h"
#include "vlsys/vl_time.h"
#include "vlutil/vl_json_ref.h"

#include <cerrno>
#include <climits>
#include <ctime>
#include <new>

namespace {

VL_LOG_CATEGORY(category, "velanto.audio.rtaudio")

constexpr uint64_t first_callback_poll_ns = 10000000ULL;

bool rate_valid(vl_rational rate) { return rate.nom > 0 && rate.den > 0; }

// Calls `visit(api, handle)` for every compiled API whose handle can be
// created, until it returns true. The number of APIs visited.
template <typename Visit>
int for_each_api(Visit visit) {
  const uint32_t apis = rtaw_get_apis();
  int visited = 0;
  for (int api = 1; api <= rtaw_api_max; ++api) {
    if ((apis & (1U << api)) == 0) continue;
    ++visited;
    rtaw_handle handle(rtaw_create_rtaudio_obj(api));
    if (!handle) {
      VL_LOG(category(), VL_LOG_ERROR, "couldn't instantiate RtAudio api %d", api);
      continue;
    }
    if (visit(api, handle)) break;
  }
  return visited;
}

void sleep_ns(uint64_t ns) {
  timespec pause = {static_cast<time_t>(ns / vl_ns_per_second), static_cast<long>(ns % vl_ns_per_second)};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

}  // namespace

class VlAudioBuffer::Capture final : public VlCaptureIfc {
 public:
  explicit Capture(VlAudioBuffer& driver) : driver_(driver) {}

  const VlMediaProperties* properties() override { return &driver_.capture_properties_; }
  VlMediaWindow initialise_read(uint32_t ts) override { return driver_.timeline_->read_window(ts); }
  int32_t complete_read(uint32_t ts, const int32_t*, int32_t frames) override {
    return driver_.timeline_->read_overrun(ts, frames);
  }
  VlTimestampRelation timestamp_relation() override { return driver_.timeline_->relation(); }
  uint32_t current_timestamp() override { return driver_.timeline_->current(); }
  VlTimerHandle timer_set(uint32_t start_ts, uint32_t* interval, vl_capture_timer_callback callback,
                          void* user) override {
    return driver_.timers_->set(start_ts, interval, callback, user);
  }
  bool timer_remove(VlTimerHandle handle) override { return driver_.timers_->remove(handle); }

 private:
  VlAudioBuffer& driver_;
};

class VlAudioBuffer::Play final : public VlPlayIfc {
 public:
  explicit Play(VlAudioBuffer& driver) : driver_(driver) {}

  const VlMediaProperties* properties() override { return &driver_.play_properties_; }
  VlMediaWindow initialise_write(uint32_t ts) override { return driver_.timeline_->write_window(ts); }
  int32_t complete_write(uint32_t ts, const int32_t*, int32_t frames) override {
    return driver_.timeline_->write_overrun(ts, frames);
  }
  VlTimestampRelation timestamp_relation() override { return driver_.timeline_->relation(); }
  uint32_t current_timestamp() override { return driver_.timeline_->current(); }

 private:
  VlAudioBuffer& driver_;
};

VlAudioBuffer::VlAudioBuffer(const char* device_name, const char* sync_source)
    : device_name_(device_name ? device_name : ""),
      sync_source_(sync_source ? sync_source : vl_rtaudio_default_sync_source) {}

// The stream is closed before the rings go: closing returns only when no
// callback runs or will run, so no time is left for callbacks to drain.
VlAudioBuffer::~VlAudioBuffer() {
  if (timeline_) timeline_->stop();
  if (timers_) timers_->stop();
  close_stream();
  if (running_) VL_LOG(category(), VL_LOG_INFO, "rtaudio_buffer destroyed successfully");
}

VlCaptureIfc* VlAudioBuffer::get_capture_ifc() { return capture_.get(); }
VlPlayIfc* VlAudioBuffer::get_play_ifc() { return play_.get(); }

bool VlAudioBuffer::find_device() {
  const int searched = for_each_api([this](int api, rtaw_handle& handle) {
    const unsigned count = rtaw_get_device_count(handle.get());
    for (unsigned index = 0; index < count; ++index) {
      const std::unique_ptr<rtaw_device_info> info = rtaw_get_device_info(handle.get(), index);
      if (!info || info->name != device_name_) continue;
      VL_LOG(category(), VL_LOG_DEBUG, "Found device %s in api %d", device_name_.c_str(), api);
      rtaudio_ = std::move(handle);
      device_index_ = index;
      return true;
    }
    return false;
  });
  if (rtaudio_) return true;
  VL_LOG(category(), VL_LOG_ERROR, "audio device %s not found in %d RtAudio apis", device_name_.c_str(), searched);
  errno = ENODEV;
  return false;
}

bool VlAudioBuffer::open_stream(StreamRequest* request) {
  rtaw_stream_parameters output{device_index_, request->play_channels, 0};
  rtaw_stream_parameters input{device_index_, request->capture_channels, 0};
  const rtaw_stream_options options{rtaw_flag_schedule_realtime, 2, "", INT32_MAX};
  if (!rtaw_open_stream(rtaudio_.get(), &output, &input, rtaw_format_sint32,
                        static_cast<uint32_t>(request->rate.nom), &request->block_frames, rtaudio_callback, this,
                        &options)) {
    errno = EIO;
    return false;
  }
  stream_open_ = true;
  request->play_channels = output.channel_count;
  request->capture_channels = input.channel_count;
  return true;
}

bool VlAudioBuffer::prepare(const StreamRequest& request, uint32_t ring_frames, VlClockref* clockref) {
  if (request.block_frames == 0 || ring_frames % request.block_frames != 0) {
    VL_LOG(category(), VL_LOG_ERROR, "rtaudio_buffer: a block of %u frames does not divide the ring of %u frames",
           request.block_frames, ring_frames);
    errno = EINVAL;
    return false;
  }
  timeline_ = VlAudioTimeline::make({ring_frames, request.play_channels, request.capture_channels,
                                     request.block_frames, request.rate, clockref});
  if (!timeline_) return false;
  timers_.reset(new (std::nothrow) VlCaptureTimers(*timeline_));
  play_properties_ = {request.rate, clockref, request.play_channels, ring_frames, nullptr, request.block_frames};
  capture_properties_ = play_properties_;
  capture_properties_.channels = request.capture_channels;
  if (request.play_channels > 0) play_.reset(new (std::nothrow) Play(*this));
  if (request.capture_channels > 0) capture_.reset(new (std::nothrow) Capture(*this));
  if (!timers_ || (request.play_channels > 0 && !play_) || (request.capture_channels > 0 && !capture_)) {
    errno = ENOMEM;
    return false;
  }
  return true;
}

bool VlAudioBuffer::start_stream() {
  if (!rtaw_start_stream(rtaudio_.get())) {
    errno = EIO;
    return false;
  }
  return true;
}

bool VlAudioBuffer::wait_first_callback() {
  for (uint64_t waited = 0; waited < vl_rtaudio_first_callback_timeout_ns; waited += first_callback_poll_ns) {
    if (timeline_->started()) return true;
    sleep_ns(first_callback_poll_ns);
  }
  if (timeline_->started()) return true;
  VL_LOG(category(), VL_LOG_ERROR, "rtaudio_buffer: no audio callback from %s within %llu ms", device_name_.c_str(),
         static_cast<unsigned long long>(vl_rtaudio_first_callback_timeout_ns / 1000000ULL));
  errno = ETIMEDOUT;
  return false;
}

// Closing stops a running stream as well. Stopping first would only drain
// output that is silence by now, and RtAudio's JACK back end waits for that
// drain on a condition without holding its mutex.
void VlAudioBuffer::close_stream() {
  if (stream_open_) rtaw_close_stream(rtaudio_.get());
  stream_open_ = false;
  rtaudio_.reset();
}

namespace {

bool ctor_arguments_valid(uint32_t ring_frames, uint32_t play_channels, uint32_t capture_channels,
                          vl_rational rate) {
  return vl_ring_size_valid(ring_frames) && (play_channels > 0 || capture_channels > 0) && rate_valid(rate);
}

VlAudioBuffer* refuse_arguments() {
  errno = EINVAL;
  return nullptr;
}

}  // namespace

VlAudioBuffer* vl_rtaudio_buffer_ctor(uint32_t ring_frames, uint32_t play_channels, uint32_t capture_channels,
                                      uint32_t* block_frames, vl_rational rate, const char* sync_source,
                                      const char* device_name) {
  if (!block_frames || !ctor_arguments_valid(ring_frames, play_channels, capture_channels, rate))
    return refuse_arguments();
  try {
    std::unique_ptr<VlAudioBuffer> driver(new VlAudioBuffer(device_name, sync_source));
    if (!driver->find_device()) return nullptr;
    VlClockref* clockref = vl_clockref_find(driver->sync_source());
    if (!clockref) {
      VL_LOG(category(), VL_LOG_ERROR, "rtaudio_buffer: no clock reference %s", driver->sync_source());
      errno = ENODEV;
      return nullptr;
    }
    VlAudioBuffer::StreamRequest request{play_channels, capture_channels, *block_frames, rate};
    if (!driver->open_stream(&request) || !driver->prepare(request, ring_frames, clockref) ||
        !driver->start_stream() || !driver->timers_->start() || !driver->wait_first_callback())
      return nullptr;
    driver->running_ = true;
    *block_frames = request.block_frames;
    return driver.release();
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
  }
  return nullptr;
}

VlAudioBuffer* vl_rtaudio_buffer_ctor_unattached(uint32_t ring_frames, uint32_t play_channels,
                                                 uint32_t capture_channels, uint32_t block_frames,
                                                 vl_rational rate, VlClockref* clockref) {
  if (!clockref || !ctor_arguments_valid(ring_frames, play_channels, capture_channels, rate))
    return refuse_arguments();
  try {
    std::unique_ptr<VlAudioBuffer> driver(new VlAudioBuffer("", vl_clockref_description(clockref)));
    const VlAudioBuffer::StreamRequest request{play_channels, capture_channels, block_frames, rate};
    if (!driver->prepare(request, ring_frames, clockref) || !driver->timers_->start()) return nullptr;
    driver->running_ = true;
    return driver.release();
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
  }
  return nullptr;
}

int rtaudio_callback(void* output, void* input, unsigned frames, double, unsigned status, void* driver) {
  auto* self = static_cast<VlAudioBuffer*>(driver);
  self->timeline_->process(static_cast<int32_t*>(output), static_cast<const int32_t*>(input), frames, status);
  return 0;
}

namespace {

// An absent count is 0; anything but a count that fits is refused.
bool count_from(const json_t* configuration, const char* key, uint32_t* count) {
  *count = 0;
  const json_t* value = json_object_get(configuration, key);
  if (!value) return true;
  if (!json_is_integer(value)) return false;
  const json_int_t n = json_integer_value(value);
  if (n < 0 || n > static_cast<json_int_t>(UINT32_MAX)) return false;
  *count = static_cast<uint32_t>(n);
  return true;
}

VlObject* load(const json_t* json) {
  const json_t* configuration = json_object_get(json, "configuration");
  uint32_t play_channels = 0;
  uint32_t capture_channels = 0;
  uint32_t block_frames = 0;
  for (auto [key, count] : {std::pair{"channelCountPlay", &play_channels},
                            std::pair{"channelCountCapture", &capture_channels},
                            std::pair{"audioBlockSize", &block_frames}}) {
    if (!count_from(configuration, key, count)) {
      VL_LOG(category(), VL_LOG_ERROR, "invalid %s", key);
      return nullptr;
    }
  }
  vl_rational rate = {48000, 1};
  json_t* sample_rate = json_object_get(configuration, "sampleRate");
  if (sample_rate && json_unpack(sample_rate, "[ii!]", &rate.nom, &rate.den) != 0) {
    VL_LOG(category(), VL_LOG_ERROR, "could not get sample rate");
    return nullptr;
  }
  const char* sync_source = json_string_value(json_object_get(configuration, "syncSource"));
  const char* device_name = json_string_value(json_object_get(json, "devicename"));
  return vl_rtaudio_buffer_ctor(vl_rtaudio_ring_frames, play_channels, capture_channels, &block_frames, rate,
                                sync_source, device_name);
}

json_t* rates_array(const std::vector<uint32_t>& rates) {
  json_t* array = json_array();
  for (uint32_t rate : rates) json_array_append_new(array, json_integer(rate));
  return array;
}

void devicelist(json_t* array) {
  for_each_api([array](int, rtaw_handle& handle) {
    const unsigned count = rtaw_get_device_count(handle.get());
    for (unsigned index = 0; index < count; ++index) {
      const std::unique_ptr<rtaw_device_info> info = rtaw_get_device_info(handle.get(), index);
      if (!info) continue;
      VlJsonRef entry(json_pack("{s:s, s:s, s:{s:i, s:i, s:[i, i, i, i, i, i, i], s:o}}", "typename",
                                vl_rtaudio_buffer_ts.type_name, "devicename", info->name.c_str(), "properties",
                                "channelCountPlay", static_cast<int>(info->output_channels), "channelCountCapture",
                                static_cast<int>(info->input_channels), "audioBlockSize", 32, 64, 128, 256, 512,
                                1024, 2048, "sampleRate", rates_array(info->sample_rates)));
      if (entry) json_array_append(array, entry.get());
    }
    return false;
  });
}

}  // namespace

const VlMediadrvTypeDescriptor vl_rtaudio_buffer_ts = {{&vl_mediadrv_audio_ts, "VlAudioBuffer", load}, devicelist};

void vl_rtaudioifc_init() {
  vl_log_category("velanto.audio.rtaudio");
  vl_object_register(&vl_rtaudio_buffer_ts);
}

void vl_rtaudioifc_exit() { vl_object_unregister(&vl_rtaudio_buffer_ts); }

vl_mutex* rtaudio_ifc_mutex_ctor(vl_mutex* mutex) { return vl_mutex_ctor(mutex); }
vl_mutex* rtaudio_ifc_mutex_dtor(vl_mutex* mutex) { return vl_mutex_dtor(mutex); }
void rtaudio_ifc_mutex_lock(vl_mutex* mutex) { vl_mutex_lock(mutex); }
void rtaudio_ifc_mutex_unlock(vl_mutex* mutex) { vl_mutex_unlock(mutex); }

namespace {

int32_t expected_after(int32_t sample, int channel, uint32_t step) {
  const auto value = static_cast<uint32_t>(sample);
  return static_cast<int32_t>(channel == 0 ? value + step : value - step);
}

}  // namespace

bool checkMemoryCountUpDown32(VlCountUpDownCheck* check, const char* name, const int32_t* samples,
                              uint32_t frames) {
  bool clean = true;
  for (uint32_t frame = 0; frame < frames; ++frame) {
    const int32_t* is = samples + static_cast<std::size_t>(frame) * 2;
    for (int channel = 0; channel < 2 && check->primed; ++channel) {
      if (is[channel] == static_cast<int32_t>(check->next[channel])) continue;
      clean = false;
      VL_LOG_RATELIMITED(&check->last_sample_log, category(), VL_LOG_DEBUG,
                         "%s channel %u: sample pos %lu: is: %4.4lX, %4.4lX -> should: %4.4lX, %4.4lX\n", name,
                         static_cast<unsigned>(channel), static_cast<unsigned long>(frame),
                         static_cast<unsigned long>(static_cast<uint32_t>(is[0])),
                         static_cast<unsigned long>(static_cast<uint32_t>(is[1])),
                         static_cast<unsigned long>(check->next[0]), static_cast<unsigned long>(check->next[1]));
      break;
    }
    // The pattern goes on from what arrived: a jump is one error, not a flood.
    for (int channel = 0; channel < 2; ++channel)
      check->next[channel] = static_cast<uint32_t>(expected_after(is[channel], channel, check->step));
    check->primed = true;
  }
  if (!clean)
    VL_LOG_RATELIMITED(&check->last_block_log, category(), VL_LOG_DEBUG, "%s: last block had errors: next vals: %4.4lX, %4.4lX\n",
                       name, static_cast<unsigned long>(check->next[0]), static_cast<unsigned long>(check->next[1]));
  return clean;
}
