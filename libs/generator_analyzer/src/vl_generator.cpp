#include "generator_analyzer/vl_generator.h"

#include "generator_analyzer/generator_ramp.h"
#include "generator_analyzer/generator_sine.h"
#include "vlsys/vl_log.h"
#include "vlsys/vl_ticker.h"
#include "vlsys/vl_time.h"
#include "vlsys/vl_wrap.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <new>

const VlMediadrvTypeDescriptor vl_generator_ts = {{&vl_mediadrv_audio_ts, "VlGenerator", nullptr}, nullptr};

struct VlGenerator::Timer {
  vl_capture_timer_callback callback;
  void* user;
  Ticker* ticker = nullptr;
};

// The timers of one period are spread over a few tickers, as many as the
// clock reference's timers have threads; each ticker's timers share one
// clock reference timer that serves them in turn, in phase with PTP time,
// and read the frames the ticker made.
struct VlGenerator::Ticker {
  Ticker(VlGenerator* owner, uint64_t period, std::unique_ptr<int32_t[]> samples)
      : generator(owner), period_ns(period), made{std::move(samples)} {}

  VlGenerator* generator;
  uint64_t period_ns;
  Made made;
  VlTimerHandle clock_timer = nullptr;
  size_t registered = 0;  // timers, under the generator's timers_mutex_
  VlYieldingMutex mutex;  // held while its timers run; guards timers, next_first and made
  std::vector<Timer*> timers;
  size_t next_first = 0;  // each tick starts with the next timer, so that none is always last
};

namespace {

// The ticker whose timers this thread is calling, so that their reads use
// its frames.
thread_local VlGenerator::Ticker* ticking = nullptr;

class Ticking {
 public:
  explicit Ticking(VlGenerator::Ticker* ticker) : outer_(ticking) { ticking = ticker; }
  ~Ticking() { ticking = outer_; }
  Ticking(const Ticking&) = delete;
  Ticking& operator=(const Ticking&) = delete;

 private:
  VlGenerator::Ticker* outer_;
};

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
      own_{std::move(parts.samples)} {}

VlGenerator::~VlGenerator() {
  // Streams remove their timers first; these are left-overs of a careless owner.
  std::vector<Ticker*> left;
  {
    VlYieldingLock lock(timers_mutex_);
    left.swap(tickers_);
    timers_.clear();
  }
  for (Ticker* ticker : left) {
    vl_clockref_timer_remove(properties_.clockref, ticker->clock_timer);
    for (Timer* timer : ticker->timers) delete timer;
    delete ticker;
  }
}

bool VlGenerator::store(json_t* json) const {
  return VlMediadrvAudio::store(json) && vl_test_device_store(json, block_frames());
}

uint32_t VlGenerator::generate(uint32_t, uint32_t) { vl_object_abort("vl_generator_generate"); }

uint32_t VlGenerator::current_timestamp() {
  return vl_time_ns2ts(vl_clockref_now(properties_.clockref, nullptr), properties_.rate);
}

VlGenerator::Made& VlGenerator::made_here() { return ticking && ticking->generator == this ? ticking->made : own_; }

VlMediaWindow VlGenerator::read(uint32_t ts, uint32_t frames) {
  frames = std::min(frames, block_frames());
  Made& made = made_here();
  if (ts != made.ts || made.frames < frames) {
    made.frames = generate(ts, frames);
    made.ts = ts;
  }
  return {made.samples.get(), static_cast<int32_t>(made.frames)};
}

VlMediaWindow VlGenerator::Capture::initialise_read(uint32_t ts) {
  return generator_.read(ts, generator_.block_frames());
}

VlMediaWindow VlGenerator::Capture::initialise_read_frames(uint32_t ts, uint32_t wanted) {
  return generator_.read(ts, wanted);
}

// Only the frames made at the last initialise are there: a read that begins
// before them or runs past their end is out of bounds by that much.
int32_t VlGenerator::Capture::complete_read(uint32_t ts, const int32_t*, int32_t frames) {
  const Made& made = generator_.made_here();
  const int32_t offset = vl_ts_delta(made.ts, ts);
  if (offset < 0) return offset;
  const int64_t end = static_cast<int64_t>(offset) + frames;
  const int64_t beyond = end - made.frames;
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

// Each timer is served with the media position of the tick (the clock
// reference ticks on the multiples of the period), its PTP time, and the
// current media position: a sender then cuts its packets at the ticks and
// sends each as soon as it is complete, however late the thread woke.
void VlGenerator::tick(void* record) {
  auto* ticker = static_cast<Ticker*>(record);
  VlGenerator* generator = ticker->generator;
  // Adding and removing timers go first, however busy the ticks.
  VlYieldingLockLast lock(ticker->mutex);
  const Ticking reads_from(ticker);
  const uint64_t now = vl_clockref_now(generator->properties_.clockref, nullptr);
  const uint64_t tick_ns = now - now % ticker->period_ns;
  const vl_rational rate = generator->properties_.rate;
  const uint32_t ts = vl_time_ns2ts(tick_ns, rate);
  const uint32_t current = vl_time_ns2ts(now, rate);
  const size_t count = ticker->timers.size();
  const size_t first = count ? ticker->next_first++ % count : 0;
  for (size_t i = 0; i < count; ++i) {
    Timer* timer = ticker->timers[(first + i) % count];
    timer->callback(timer->user, ts, tick_ns, current);
  }
}

VlTimerHandle VlGenerator::add_timer(uint32_t start_ts, uint32_t interval, vl_capture_timer_callback callback,
                                     void* user) {
  // A zero interval would give a timer that never ticks.
  const uint64_t period = interval == 0 ? 0 : period_ns(properties_.rate, interval);
  if (period == 0) {
    errno = EINVAL;
    return nullptr;
  }
  auto* timer = new (std::nothrow) Timer{callback, user};
  if (!timer) {
    errno = ENOMEM;
    return nullptr;
  }
  {
    VlYieldingLock lock(timers_mutex_);
    if (Ticker* ticker = ticker_to_join(period)) {
      attach(ticker, timer);
      timers_.push_back(timer);
      return timer;
    }
  }
  // A new ticker starts without the mutex: the clock reference's thread
  // holds its own lock while it ticks, and removing a ticker waits for that.
  Ticker* ticker = start_ticker(period, start_ts, interval, timer);
  if (!ticker) {
    delete timer;
    return nullptr;
  }
  VlYieldingLock lock(timers_mutex_);
  tickers_.push_back(ticker);
  timers_.push_back(timer);
  return timer;
}

// Under timers_mutex_: the ticker of `period` with the fewest timers, or
// null while another may be started.
VlGenerator::Ticker* VlGenerator::ticker_to_join(uint64_t period) const {
  Ticker* fewest = nullptr;
  size_t count = 0;
  for (Ticker* ticker : tickers_) {
    if (ticker->period_ns != period) continue;
    ++count;
    if (!fewest || ticker->registered < fewest->registered) fewest = ticker;
  }
  return count >= vl_ticker_lanes() ? fewest : nullptr;
}

// Under timers_mutex_, or before the ticker starts.
void VlGenerator::attach(Ticker* ticker, Timer* timer) {
  timer->ticker = ticker;
  ++ticker->registered;
  VlYieldingLock lock(ticker->mutex);
  ticker->timers.push_back(timer);
}

// A ticker of `period` with its own frames, serving `timer`, its clock timer
// started (its first tick comes at once); null with errno.
VlGenerator::Ticker* VlGenerator::start_ticker(uint64_t period, uint32_t start_ts, uint32_t interval, Timer* timer) {
  const uint64_t now = vl_clockref_now(properties_.clockref, nullptr);
  const uint64_t reference = now > start_lookback_ns ? now - start_lookback_ns : 0;
  const uint64_t start = vl_time_ts2ns(start_ts, properties_.rate, reference);
  const size_t samples = static_cast<size_t>(channels()) * block_frames();
  std::unique_ptr<int32_t[]> frames(new (std::nothrow) int32_t[samples]());
  auto* ticker = frames ? new (std::nothrow) Ticker(this, period, std::move(frames)) : nullptr;
  if (!ticker) {
    errno = ENOMEM;
    return nullptr;
  }
  attach(ticker, timer);
  ticker->clock_timer = vl_clockref_timer_create(properties_.clockref, start, period, tick, ticker);
  if (!ticker->clock_timer) {
    const int err = errno;
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "vl_clockref_timer_create failed with errno = %d", err);
    delete ticker;
    errno = err;
    return nullptr;
  }
  log_timer_set(start_ts, start, interval, period);
  return ticker;
}

// Once the timer has left its ticker (under the mutex that ticks hold), no
// callback of it runs; a ticker without timers is stopped, and the clock
// reference's removal waits for a tick that is still running.
bool VlGenerator::remove_timer(Timer* timer) {
  Ticker* idle = nullptr;
  {
    VlYieldingLock lock(timers_mutex_);
    auto live = std::find(timers_.begin(), timers_.end(), timer);
    if (live == timers_.end()) {
      errno = EINVAL;
      return false;
    }
    timers_.erase(live);
    Ticker* ticker = timer->ticker;
    {
      VlYieldingLock ticking_lock(ticker->mutex);
      ticker->timers.erase(std::find(ticker->timers.begin(), ticker->timers.end(), timer));
    }
    if (--ticker->registered == 0) {
      idle = ticker;
      tickers_.erase(std::find(tickers_.begin(), tickers_.end(), ticker));
    }
  }
  delete timer;
  if (!idle) return true;
  const bool removed = vl_clockref_timer_remove(properties_.clockref, idle->clock_timer);
  delete idle;
  return removed;
}

uint32_t vl_generator_generate(VlGenerator* self, uint32_t ts) { return self->generate(ts, self->block_frames()); }

void vl_generator_init() {
  vl_log_category("velanto.generator");
  vl_object_register(&vl_generator_sine_ts);
  vl_object_register(&vl_generator_ramp_ts);
}

void vl_generator_exit() {
  vl_object_unregister(&vl_generator_ramp_ts);
  vl_object_unregister(&vl_generator_sine_ts);
}
