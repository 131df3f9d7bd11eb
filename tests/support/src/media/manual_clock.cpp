#include "vltest/manual_clock.h"

#include <algorithm>

namespace vltest {

ManualClock::ManualClock(std::string description, uint64_t now_ns)
    : description_(std::move(description)), now_(now_ns) {}

ManualClock::~ManualClock() {
  for (Timer* timer : timers_) delete timer;
}

uint64_t ManualClock::now(int32_t* status) {
  if (status) *status = 0;
  return now_.load();
}

bool ManualClock::compatible(const char* description) {
  return description && description_ == description;
}

VlTimerHandle ManualClock::timer_create(uint64_t start_ns, uint64_t period_ns, vl_timer_callback callback,
                                        void* user_data) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto* timer = new Timer{next_id_++, start_ns, period_ns, callback, user_data};
  timers_.push_back(timer);
  last_start_ns_ = start_ns;
  last_period_ns_ = period_ns;
  return timer;
}

bool ManualClock::timer_remove(VlTimerHandle handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = std::find(timers_.begin(), timers_.end(), static_cast<Timer*>(handle));
  if (it == timers_.end()) return false;
  delete *it;
  timers_.erase(it);
  return true;
}

int ManualClock::fire_timers() {
  std::vector<uint64_t> snapshot;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Timer* timer : timers_) snapshot.push_back(timer->id);
  }
  int calls = 0;
  for (uint64_t id : snapshot) {
    vl_timer_callback callback = nullptr;
    void* user_data = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const auto it = std::find_if(timers_.begin(), timers_.end(), [id](const Timer* t) { return t->id == id; });
      if (it == timers_.end()) continue;  // removed by an earlier callback
      callback = (*it)->callback;
      user_data = (*it)->user_data;
    }
    callback(user_data);
    ++calls;
  }
  return calls;
}

std::size_t ManualClock::timer_count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return timers_.size();
}

uint64_t ManualClock::last_start_ns() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_start_ns_;
}

uint64_t ManualClock::last_period_ns() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_period_ns_;
}

}  // namespace vltest
