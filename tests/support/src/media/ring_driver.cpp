#include "vltest/ring_driver.h"

#include "vl/vl_ring_window.h"
#include "vlsys/vl_time.h"
#include "vlsys/vl_wrap.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace vltest {

const VlMediadrvTypeDescriptor ring_driver_ts = {{&vl_mediadrv_audio_ts, "VltestRingDriver", nullptr}, nullptr};

namespace {

constexpr int max_fires_per_call = 1 << 20;

[[noreturn]] void refuse(const char* what) {
  std::fprintf(stderr, "vltest::RingDriver: %s\n", what);
  std::abort();
}

}  // namespace

class RingDriver::Capture final : public VlCaptureIfc {
 public:
  explicit Capture(RingDriver& driver) : driver_(driver) {}

  const VlMediaProperties* properties() override { return &driver_.capture_properties_; }

  VlMediaWindow initialise_read(uint32_t ts) override {
    if (driver_.stopping_.load()) return {nullptr, 0};
    const uint32_t n = driver_.config_.buffer_frames;
    const VlRingWindow window = vl_ring_read_window(ts, driver_.current_timestamp(), n);
    if (!window.servable) return {nullptr, window.frames};
    return {driver_.frame(driver_.capture_ring_, ts, driver_.config_.capture_channels), window.frames};
  }

  int32_t complete_read(uint32_t ts, const int32_t*, int32_t frames) override {
    ++driver_.completed_reads_;
    if (driver_.stopping_.load()) return 0;
    return vl_ring_read_overrun(ts, frames, driver_.current_timestamp(), driver_.config_.buffer_frames);
  }

  VlTimestampRelation timestamp_relation() override { return driver_.relation(); }
  uint32_t current_timestamp() override { return driver_.current_timestamp(); }

  VlTimerHandle timer_set(uint32_t start_ts, uint32_t* interval, vl_capture_timer_callback callback,
                          void* user) override {
    return driver_.add_timer(start_ts, interval, callback, user);
  }
  bool timer_remove(VlTimerHandle handle) override { return driver_.remove_timer(handle); }

 private:
  RingDriver& driver_;
};

class RingDriver::Play final : public VlPlayIfc {
 public:
  explicit Play(RingDriver& driver) : driver_(driver) {}

  const VlMediaProperties* properties() override { return &driver_.play_properties_; }

  VlMediaWindow initialise_write(uint32_t ts) override {
    if (driver_.stopping_.load()) return {nullptr, 0};
    const uint32_t n = driver_.config_.buffer_frames;
    const VlRingWindow window = vl_ring_write_window(ts, driver_.current_timestamp(), n);
    return {driver_.frame(driver_.play_ring_, ts, driver_.config_.play_channels), window.frames};
  }

  int32_t complete_write(uint32_t ts, const int32_t*, int32_t frames) override {
    ++driver_.completed_writes_;
    if (driver_.stopping_.load()) return 0;
    return vl_ring_write_overrun(ts, frames, driver_.current_timestamp(), driver_.config_.buffer_frames);
  }

  VlTimestampRelation timestamp_relation() override { return driver_.relation(); }
  uint32_t current_timestamp() override { return driver_.current_timestamp(); }

 private:
  RingDriver& driver_;
};

RingDriver::RingDriver() : RingDriver(Config{}) {}

RingDriver::RingDriver(const Config& config)
    : config_(config),
      clock_(config.name + " clock", config.start_ptp_ns),
      capture_properties_{config.rate, &clock_, config.capture_channels, config.buffer_frames, nullptr,
                          config.block_frames},
      play_properties_{config.rate, &clock_, config.play_channels, config.buffer_frames, nullptr,
                       config.block_frames},
      capture_ring_(static_cast<std::size_t>(config.buffer_frames) * config.capture_channels),
      play_ring_(static_cast<std::size_t>(config.buffer_frames) * config.play_channels),
      anchor_ns_(config.start_ptp_ns) {
  if (!vl_ring_size_valid(config.buffer_frames)) refuse("buffer_frames must be a power of two");
  if (config.block_frames == 0) refuse("block_frames must not be 0");
  if (config.rate.nom <= 0 || config.rate.den <= 0) refuse("the rate must be positive");
  if (config.capture_channels > 0) capture_ = std::make_unique<Capture>(*this);
  if (config.play_channels > 0) play_ = std::make_unique<Play>(*this);
}

RingDriver::~RingDriver() = default;

VlCaptureIfc* RingDriver::get_capture_ifc() { return capture_.get(); }
VlPlayIfc* RingDriver::get_play_ifc() { return play_.get(); }

void RingDriver::set_current_timestamp(uint32_t ts) {
  current_.store(ts);
  clock_.set_now(ptp_time_of(ts));
}

void RingDriver::set_timestamp_relation(uint32_t ts, uint64_t ptp_ns) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    anchor_ts_ = ts;
    anchor_ns_ = ptp_ns;
  }
  clock_.set_now(ptp_time_of(current_timestamp()));
}

uint64_t RingDriver::ptp_time_of(uint32_t ts) const {
  std::lock_guard<std::mutex> lock(mutex_);
  __extension__ using wide = __int128;
  const wide frames = vl_ts_delta(anchor_ts_, ts);
  const wide ns = frames * config_.rate.den * static_cast<wide>(vl_ns_per_second) / config_.rate.nom;
  return anchor_ns_ + static_cast<uint64_t>(static_cast<int64_t>(ns));
}

VlTimestampRelation RingDriver::relation() const {
  const uint32_t current = current_timestamp();
  return {current, ptp_time_of(current)};
}

int32_t* RingDriver::frame(std::vector<int32_t>& ring, uint32_t ts, uint32_t channels) {
  return ring.data() + static_cast<std::size_t>(vl_ring_index(ts, config_.buffer_frames)) * channels;
}

const int32_t* RingDriver::frame(const std::vector<int32_t>& ring, uint32_t ts, uint32_t channels) const {
  return ring.data() + static_cast<std::size_t>(vl_ring_index(ts, config_.buffer_frames)) * channels;
}

void RingDriver::fill_capture(uint32_t ts, uint32_t frames, const Pattern& fill) {
  for (uint32_t k = 0; k < frames; ++k) {
    int32_t* samples = frame(capture_ring_, ts + k, config_.capture_channels);
    for (uint32_t c = 0; c < config_.capture_channels; ++c) samples[c] = fill(ts + k, c);
  }
}

int32_t RingDriver::capture_sample(uint32_t ts, uint32_t channel) const {
  if (channel >= config_.capture_channels) refuse("no such capture channel");
  return frame(capture_ring_, ts, config_.capture_channels)[channel];
}

int32_t RingDriver::played_sample(uint32_t ts, uint32_t channel) const {
  if (channel >= config_.play_channels) refuse("no such play channel");
  return frame(play_ring_, ts, config_.play_channels)[channel];
}

std::vector<int32_t> RingDriver::played(uint32_t ts, uint32_t frames, uint32_t channel) const {
  std::vector<int32_t> samples;
  samples.reserve(frames);
  for (uint32_t k = 0; k < frames; ++k) samples.push_back(played_sample(ts + k, channel));
  return samples;
}

void RingDriver::clear_play() { std::fill(play_ring_.begin(), play_ring_.end(), 0); }

VlTimerHandle RingDriver::add_timer(uint32_t start_ts, uint32_t* interval, vl_capture_timer_callback callback,
                                    void* user) {
  if (!interval || !callback) {
    errno = EINVAL;
    return nullptr;
  }
  // As a block-driven driver does: never more often than once per block.
  if (*interval < config_.block_frames) *interval = config_.block_frames;
  std::function<void()> hook;
  Timer* timer = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    timers_.push_back(Timer{start_ts, *interval, callback, user});
    timer = &timers_.back();
    hook.swap(timer_set_hook_);
  }
  if (hook) hook();
  return timer;
}

void RingDriver::on_next_timer_set(std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  timer_set_hook_ = std::move(hook);
}

bool RingDriver::remove_timer(VlTimerHandle handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = timers_.begin(); it != timers_.end(); ++it) {
    if (&*it == handle) {
      timers_.erase(it);
      return true;
    }
  }
  errno = EINVAL;
  return false;
}

int RingDriver::fire_due_timers() {
  int calls = 0;
  while (calls < max_fires_per_call) {
    const uint32_t current = current_timestamp();
    Timer due{};
    bool found = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (Timer& timer : timers_) {
        if (vl_ts_delta(timer.due, current) >= 0) {
          due = timer;
          timer.due += timer.interval;
          found = true;
          break;
        }
      }
    }
    if (!found) break;
    due.callback(due.user, current, ptp_time_of(current), current);
    ++calls;
  }
  return calls;
}

std::size_t RingDriver::timer_count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return timers_.size();
}

}  // namespace vltest
