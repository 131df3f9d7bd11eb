#include "generator_analyzer/vl_generator.h"

#include "generator_analyzer/generator_ramp.h"
#include "generator_analyzer/generator_sine.h"
#include "vlsys/vl_log.h"
#include "vlsys/vl_time.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <new>

const VlMediadrvTypeDescriptor vl_generator_ts = {{&vl_mediadrv_audio_ts, "VlGenerator", nullptr}, nullptr};

struct VlGenerator::Timer {
  VlGenerator* generator;
  vl_capture_timer_callback callback;
  void* user;
  std::atomic<bool> removing{false};
  VlTimerHandle clock_timer = nullptr;
};

namespace {

__extension__ using wide = unsigned __int128;

// A timestamp up to this long ago still resolves to the recent past.
constexpr uint64_t start_lookback_ns = vl_ns_per_second;

// den * 10^9 * interval / nom nanoseconds, or 0 when that is no usable period.
uint64_t period_ns(vl_rational rate, uint32_t interval) {
  const wide period = static_cast<wide>(rate.den) * vl_ns_per_second * interval / static_cast<wide>(rate.nom);
  return period > UINT64_MAX ? 0 : static_cast<uint64_t>(period);
}

void log_timer_set(uint32_t ts, uint64_t start_ns, uint32_t interval, uint64_t period) {
  const uint64_t seconds = start_ns / vl_ns_per_second;
  VL_LOG(vl_log_general(), VL_LOG_INFO,
         "set generator timer at %lu (= %llu:%02llu:%02llu.%09llu) with interval %lu (= %llu.%09llu)",
         static_cast<unsigned long>(ts), static_cast<unsigned long long>(seconds / 3600 % 24),
         static_cast<unsigned long long>(seconds / 60 % 60), static_cast<unsigned long long>(seconds % 60),
         static_cast<unsigned long long>(start_ns % vl_ns_per_second), static_cast<unsigned long>(interval),
         static_cast<unsigned long long>(period / vl_ns_per_second),
         static_cast<unsigned long long>(period % vl_ns_per_second));
}

}  // namespace

VlGenerator::VlGenerator(VlTestDeviceParts parts)
    : properties_{parts.rate,        parts.clockref, parts.channels, parts.block_frames, nullptr,
                  vl_test_device_processing_frames},
      samples_(std::move(parts.samples)) {}

VlGenerator::~VlGenerator() {
  // Streams remove their timers first; these are left-overs of a careless owner.
  std::vector<Timer*> left;
  {
    std::lock_guard<std::mutex> lock(timers_mutex_);
    left.swap(timers_);
  }
  for (Timer* timer : left) {
    vl_clockref_timer_remove(properties_.clockref, timer->clock_timer);
    delete timer;
  }
}

bool VlGenerator::store(json_t* json) const {
  return VlMediadrvAudio::store(json) && vl_test_device_store(json, block_frames());
}

uint32_t VlGenerator::generate(uint32_t) { vl_object_abort("vl_generator_generate"); }

uint32_t VlGenerator::current_timestamp() {
  return vl_time_ns2ts(vl_clockref_now(properties_.clockref, nullptr), properties_.rate);
}

VlMediaWindow VlGenerator::Capture::initialise_read(uint32_t ts) {
  const uint32_t frames = vl_generator_generate(&generator_, ts);
  generator_.last_read_ts_ = ts;
  return {generator_.samples(), static_cast<int32_t>(frames)};
}

// Only the block generated at the last initialise is there: a read that
// begins before it or runs past its end is out of bounds by that much.
int32_t VlGenerator::Capture::complete_read(uint32_t ts, const int32_t*, int32_t frames) {
  const int32_t offset = static_cast<int32_t>(ts - generator_.last_read_ts_);
  if (offset < 0) return offset;
  const int64_t end = static_cast<int64_t>(offset) + frames;
  const int64_t beyond = end - generator_.block_frames();
  return beyond > 0 ? static_cast<int32_t>(std::min<int64_t>(beyond, INT32_MAX)) : 0;
}

VlTimerHandle VlGenerator::Capture::timer_set(uint32_t start_ts, uint32_t* interval,
                                             vl_capture_timer_callback callback, void* user) {
  if (!interval || !callback) {
    errno = EINVAL;
    return nullptr;
  }
  return generator_.add_timer(start_ts, *interval, callback, user);
}

bool VlGenerator::Capture::timer_remove(VlTimerHandle handle) {
  return generator_.remove_timer(static_cast<Timer*>(handle));
}

void VlGenerator::tick(void* record) {
  auto* timer = static_cast<Timer*>(record);
  if (timer->removing.load()) return;
  const uint32_t ts = timer->generator->current_timestamp();
  timer->callback(timer->user, 0, 0, ts);
}

VlTimerHandle VlGenerator::add_timer(uint32_t start_ts, uint32_t interval, vl_capture_timer_callback callback,
                                     void* user) {
  // A zero interval would give a timer that never ticks.
  const uint64_t period = interval == 0 ? 0 : period_ns(properties_.rate, interval);
  if (period == 0) {
    errno = EINVAL;
    return nullptr;
  }
  const uint64_t now = vl_clockref_now(properties_.clockref, nullptr);
  const uint64_t reference = now > start_lookback_ns ? now - start_lookback_ns : 0;
  const uint64_t start = vl_time_ts2ns(start_ts, properties_.rate, reference);

  auto* timer = new (std::nothrow) Timer{this, callback, user};
  if (!timer) {
    errno = ENOMEM;
    return nullptr;
  }
  timer->clock_timer = vl_clockref_timer_create(properties_.clockref, start, period, tick, timer);
  if (!timer->clock_timer) {
    const int err = errno;
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "vl_clockref_timer_create failed with errno = %d", err);
    delete timer;
    errno = err;
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(timers_mutex_);
    timers_.push_back(timer);
  }
  log_timer_set(start_ts, start, interval, period);
  return timer;
}

// The clock reference's removal waits for a running tick and stops further
// ones, so nothing waits for a tick that may never come.
bool VlGenerator::remove_timer(Timer* timer) {
  {
    std::lock_guard<std::mutex> lock(timers_mutex_);
    const auto it = std::find(timers_.begin(), timers_.end(), timer);
    if (it == timers_.end()) {
      errno = EINVAL;
      return false;
    }
    timers_.erase(it);
  }
  timer->removing.store(true);
  const bool removed = vl_clockref_timer_remove(properties_.clockref, timer->clock_timer);
  delete timer;
  return removed;
}

uint32_t vl_generator_generate(VlGenerator* self, uint32_t ts) { return self->generate(ts); }

void vl_generator_init() {
  log4c_category_get("velanto.generator");
  vl_object_register(&vl_generator_sine_ts);
  vl_object_register(&vl_generator_ramp_ts);
}

void vl_generator_exit() {
  vl_object_unregister(&vl_generator_ramp_ts);
  vl_object_unregister(&vl_generator_sine_ts);
}
