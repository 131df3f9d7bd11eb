#include "rtaudio_capture_timers.h"

#include "vlsys/vl_log.h"
#include "vlsys/vl_sched.h"
#include "vlsys/vl_time.h"
#include "vlsys/vl_wrap.h"

#include <algorithm>
#include <cerrno>
#include <new>

namespace {

__extension__ using wide = unsigned __int128;

VL_LOG_CATEGORY(category, "velanto.audio.rtaudio")

// Microseconds until `frames` more frames have passed at `rate`, rounded up
// so that the wait ends at or after the due timestamp.
uint32_t wait_us(uint32_t frames, vl_rational rate) {
  const wide scaled = static_cast<wide>(frames) * 1000000U * static_cast<uint32_t>(rate.den);
  const wide us = (scaled + static_cast<uint32_t>(rate.nom) - 1) / static_cast<uint32_t>(rate.nom);
  return us > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(us);
}

// Releases the timer lock for the life of the object.
class Unlocked {
 public:
  explicit Unlocked(vl_mutex& mutex) : mutex_(mutex) { vl_mutex_unlock(&mutex_); }
  ~Unlocked() { vl_mutex_lock(&mutex_); }
  Unlocked(const Unlocked&) = delete;
  Unlocked& operator=(const Unlocked&) = delete;

 private:
  vl_mutex& mutex_;
};

}  // namespace

VlCaptureTimers::VlCaptureTimers(VlAudioTimeline& timeline) : timeline_(timeline) {
  vl_mutex_ctor(&mutex_);
  vl_condition_ctor(&wake_);
  vl_condition_ctor(&released_);
}

VlCaptureTimers::~VlCaptureTimers() {
  stop();
  vl_condition_dtor(&released_);
  vl_condition_dtor(&wake_);
  vl_mutex_dtor(&mutex_);
}

bool VlCaptureTimers::start() {
  VlLock lock(mutex_);
  running_ = true;
  if (!vl_thread_ctor(&thread_, thread_main, "rtaudio_capture", this)) {
    running_ = false;
    return false;
  }
  joinable_ = true;
  return true;
}

void VlCaptureTimers::stop() {
  {
    VlLock lock(mutex_);
    stopping_ = true;
    pthread_cond_broadcast(&wake_.handle);
  }
  if (joinable_) {
    pthread_join(thread_.handle, nullptr);
    joinable_ = false;
  }
}

VlTimerHandle VlCaptureTimers::set(uint32_t start_ts, uint32_t* interval, vl_capture_timer_callback callback,
                                   void* user) {
  if (!interval || !callback) {
    errno = EINVAL;
    return nullptr;
  }
  if (!timeline_.started()) {
    VL_LOG(category(), VL_LOG_ERROR, "rtaudioifc::timer_set: not initialised!");
    errno = EINVAL;
    return nullptr;
  }
  const uint32_t block_frames = timeline_.config().block_frames;
  if (block_frames == 0) {
    VL_LOG(category(), VL_LOG_ERROR, "rtaudioifc::timer_set: block_duration not set");
    errno = EINVAL;
    return nullptr;
  }
  if (*interval < block_frames) {
    VL_LOG(category(), VL_LOG_INFO, "rtaudioifc::timer_set: interval (%d) < block_duration (%u)",
           static_cast<int>(*interval), block_frames);
    *interval = block_frames;
  }
  std::list<Timer> fresh;
  try {
    fresh.push_back(Timer{0, *interval, start_ts, callback, user, false});
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return nullptr;
  }
  Timer* timer = &fresh.front();
  VlLock lock(mutex_);
  if (stopping_) {
    errno = EINVAL;
    return nullptr;
  }
  timer->id = ++next_id_;
  insert_by_due(fresh, fresh.begin());
  pthread_cond_broadcast(&wake_.handle);
  return timer;
}

bool VlCaptureTimers::remove(VlTimerHandle handle) {
  if (!timeline_.started()) {
    VL_LOG(category(), VL_LOG_ERROR, "rtaudioifc::timer_remove: not initialised!");
    errno = EINVAL;
    return false;
  }
  VlLock lock(mutex_);
  const auto queued = std::find_if(queue_.begin(), queue_.end(), [handle](const Timer& t) { return &t == handle; });
  if (queued != queue_.end()) {
    queue_.erase(queued);
    return true;
  }
  if (held_.empty() || &held_.front() != handle) {
    errno = EINVAL;
    return false;
  }
  Timer& timer = held_.front();
  timer.removing = true;
  if (on_capture_thread()) return true;
  const uint32_t id = timer.id;
  // Cuts short the thread's wait for this timer; a callback running now
  // finishes first.
  pthread_cond_broadcast(&wake_.handle);
  while (held(id)) pthread_cond_wait(&released_.handle, &mutex_.handle);
  return true;
}

void* VlCaptureTimers::thread_main(void* self) {
  static_cast<VlCaptureTimers*>(self)->run();
  return nullptr;
}

void VlCaptureTimers::run() {
  vl_sched_boost_thread();
  VlLock lock(mutex_);
  while (!stopping_) {
    if (queue_.empty()) {
      pthread_cond_wait(&wake_.handle, &mutex_.handle);
      continue;
    }
    held_.splice(held_.end(), queue_, queue_.begin());
    Timer& timer = held_.front();
    if (!timer.removing && wait_until_due(timer)) fire(timer);
    release_held();
  }
  running_ = false;
  pthread_cond_broadcast(&released_.handle);
}

// True when the timer is to fire: it is due, or the wait for it timed out.
// False when the wait was woken (a new timer, a removal, the stop).
bool VlCaptureTimers::wait_until_due(const Timer& timer) {
  const int32_t ahead = vl_ts_delta(timeline_.current(), timer.due);
  if (ahead <= 0) return true;
  return vl_condition_timedwait(&wake_, &mutex_, wait_us(static_cast<uint32_t>(ahead), timeline_.config().rate)) !=
         0;
}

void VlCaptureTimers::watch_callbacks() {
  const uint32_t ts = timeline_.current();
  const uint64_t now_ns = vl_system_clock();
  if (ts != watched_ts_ || unchanged_since_ns_ == 0) {
    if (stall_reported_) VL_LOG(category(), VL_LOG_NOTICE, "rtaudio_capture: audio callbacks resumed");
    watched_ts_ = ts;
    unchanged_since_ns_ = now_ns;
    stall_reported_ = false;
    return;
  }
  if (stall_reported_ || now_ns - unchanged_since_ns_ < vl_rtaudio_stall_ns) return;
  stall_reported_ = true;
  VL_LOG(category(), VL_LOG_ERROR,
         "rtaudio_capture: no audio callback for %llu ms: the audio server or device is gone",
         static_cast<unsigned long long>((now_ns - unchanged_since_ns_) / 1000000ULL));
}

void VlCaptureTimers::fire(Timer& timer) {
  watch_callbacks();
  const VlTimestampRelation now = timeline_.relation();
  {
    Unlocked unlocked(mutex_);
    timer.callback(timer.user, now.ts, now.ptp_ns, now.ts);
  }
  timer.due += timer.interval;
}

void VlCaptureTimers::release_held() {
  if (held_.front().removing) {
    held_.clear();
    pthread_cond_broadcast(&released_.handle);
    return;
  }
  insert_by_due(held_, held_.begin());
}

// Before the first timer due at the same time or later.
void VlCaptureTimers::insert_by_due(std::list<Timer>& from, std::list<Timer>::iterator timer) {
  const uint32_t due = timer->due;
  const auto later = std::find_if(queue_.begin(), queue_.end(),
                                  [due](const Timer& t) { return vl_ts_delta(due, t.due) >= 0; });
  queue_.splice(later, from, timer);
}

bool VlCaptureTimers::held(uint32_t id) const { return running_ && !held_.empty() && held_.front().id == id; }

bool VlCaptureTimers::on_capture_thread() const {
  return running_ && pthread_equal(pthread_self(), thread_.handle) != 0;
}
