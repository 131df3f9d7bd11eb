#include "vlsys/vl_ticker.h"

#include "vlsys/vl_condition.h"
#include "vlsys/vl_sched.h"
#include "vlsys/vl_thread.h"
#include "vlsys/vl_time.h"
#include "vlsys/vl_yielding_mutex.h"

#include <sched.h>
#include <sys/prctl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <ctime>
#include <mutex>
#include <new>
#include <vector>

namespace {
class TickGroup;
}

struct vl_ticker_entry {
  vl_timer_callback callback;
  void* user_data;
  int clock;
  TickGroup* group = nullptr;
  bool first_call_pending = true;
};

namespace {

uint64_t clock_now(int clock) {
  timespec ts{};
  clock_gettime(static_cast<clockid_t>(clock), &ts);
  return static_cast<uint64_t>(ts.tv_sec) * vl_ns_per_second + static_cast<uint64_t>(ts.tv_nsec);
}

// The entries of one clock, period and phase, and the thread that calls them.
class TickGroup {
 public:
  TickGroup(int clock, uint64_t phase_ns, uint64_t period_ns)
      : clock_(clock), period_(period_ns), phase_(phase_ns % period_ns) {
    vl_condition_ctor(&wake_);
  }
  ~TickGroup() { vl_condition_dtor(&wake_); }
  TickGroup(const TickGroup&) = delete;
  TickGroup& operator=(const TickGroup&) = delete;

  bool matches(int clock, uint64_t phase_ns, uint64_t period_ns) const {
    return clock == clock_ && period_ns == period_ && phase_ns % period_ns == phase_;
  }

  // Entries attached, counted under the registry's lock, so that choosing a
  // lane does not wait for a tick in progress.
  size_t registered = 0;

  bool start() { return vl_thread_ctor(&thread_, thread_main, "timer callback thread", this) != nullptr; }

  void stop() {
    {
      VlYieldingLock lock(mutex_);
      stopping_ = true;
      pthread_cond_signal(&wake_.handle);
    }
    pthread_join(thread_.handle, nullptr);
  }

  // Room for one more entry, so that attach cannot fail; false (errno
  // ENOMEM) when there is none.
  bool reserve_one() {
    VlYieldingLock lock(mutex_);
    try {
      entries_.reserve(entries_.size() + 1);
    } catch (const std::bad_alloc&) {
      errno = ENOMEM;
      return false;
    }
    return true;
  }

  // Under the registry's lock, after reserve_one.
  void attach(vl_ticker_entry* entry) {
    ++registered;
    VlYieldingLock lock(mutex_);
    entries_.push_back(entry);
    entry->group = this;
    entry->first_call_pending = true;
    ++first_calls_pending_;
    pthread_cond_signal(&wake_.handle);
  }

  // Under the registry's lock; waits for a tick in progress. True when the
  // group is left empty.
  bool detach(vl_ticker_entry* entry) {
    --registered;
    VlYieldingLock lock(mutex_);
    entries_.erase(std::find(entries_.begin(), entries_.end(), entry));
    if (entry->first_call_pending) --first_calls_pending_;
    entry->first_call_pending = false;
    entry->group = nullptr;
    return registered == 0;
  }

 private:
  static void* thread_main(void* self) {
    static_cast<TickGroup*>(self)->run();
    return nullptr;
  }

  // The grid instant at or before t.
  uint64_t grid_floor(uint64_t t) const { return t - (t % period_ + period_ - phase_) % period_; }

  void run() {
    vl_sched_boost_thread();
    // A thread left on normal scheduling would otherwise wake up to 50 us late.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    // Held but while waiting; others get it when the thread yields.
    mutex_.lock_last();
    uint64_t last_tick = grid_floor(clock_now(clock_));
    bool slept = true;  // since the last tick
    while (!stopping_) {
      mutex_.yield();
      if (first_calls_pending_ > 0) {
        serve_first_calls();
        continue;
      }
      const uint64_t due = last_tick + period_;
      const uint64_t now = clock_now(clock_);
      if (now < due) {
        const timespec deadline{static_cast<time_t>(due / vl_ns_per_second),
                                static_cast<long>(due % vl_ns_per_second)};
        pthread_cond_clockwait(&wake_.handle, &mutex_.native().handle, static_cast<clockid_t>(clock_), &deadline);
        slept = true;
        continue;
      }
      serve_all();
      // A tick that ran over is caught up at once, but a second one in a row
      // merges the instants it ran over into the next: the thread then
      // sleeps between ticks even when overloaded, where at real-time
      // priority on every CPU it would starve the rest of the system,
      // control requests included.
      last_tick = grid_floor(slept ? now : clock_now(clock_));
      slept = false;
    }
    mutex_.unlock();
  }

  void serve_first_calls() {
    for (vl_ticker_entry* entry : entries_) {
      if (!entry->first_call_pending) continue;
      entry->first_call_pending = false;
      --first_calls_pending_;
      entry->callback(entry->user_data);
    }
  }

  void serve_all() {
    const size_t count = entries_.size();
    if (count == 0) return;
    const size_t first = next_first_++ % count;
    for (size_t i = 0; i < count; ++i) {
      vl_ticker_entry* entry = entries_[(first + i) % count];
      entry->callback(entry->user_data);
    }
  }

  const int clock_;
  const uint64_t period_;
  const uint64_t phase_;
  // Everything below; held by the thread while callbacks run, so that it
  // yields to adding and removing between ticks.
  VlYieldingMutex mutex_;
  vl_condition wake_;  // an entry waits for its first call, or the thread is to stop
  std::vector<vl_ticker_entry*> entries_;
  size_t first_calls_pending_ = 0;
  size_t next_first_ = 0;
  bool stopping_ = false;
  vl_thread thread_{};
};

// Lock order: registry, then a group.
std::mutex registry_mutex;
std::vector<TickGroup*> registry;

size_t usable_cpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return static_cast<size_t>(std::max(CPU_COUNT(&set), 1));
}

// Lanes of one grid: 0 until first asked, then one per usable CPU.
std::atomic<size_t> lanes_max{0};

size_t lanes() {
  size_t count = lanes_max.load();
  if (count == 0) {
    count = std::min<size_t>(usable_cpus(), vl_ticker_lanes_limit);
    lanes_max.store(count);
  }
  return count;
}

// Called with the registry locked: the lane with the fewest entries, or a
// new lane while there are fewer than the maximum and none is empty. Null
// with errno on failure.
TickGroup* group_for(int clock, uint64_t phase_ns, uint64_t period_ns) {
  TickGroup* fewest = nullptr;
  size_t count = 0;
  for (TickGroup* group : registry) {
    if (!group->matches(clock, phase_ns, period_ns)) continue;
    ++count;
    if (!fewest || group->registered < fewest->registered) fewest = group;
  }
  if (fewest && (fewest->registered == 0 || count >= lanes())) return fewest;
  auto* group = new (std::nothrow) TickGroup(clock, phase_ns, period_ns);
  if (!group) {
    errno = ENOMEM;
    return nullptr;
  }
  try {
    registry.push_back(group);
  } catch (const std::bad_alloc&) {
    delete group;
    errno = ENOMEM;
    return nullptr;
  }
  if (group->start()) return group;
  const int err = errno;
  registry.pop_back();
  delete group;
  errno = err;
  return nullptr;
}

// Called with the registry locked: an idle group leaves the registry, and
// the caller stops it once the registry is unlocked.
TickGroup* unlist_if_idle(TickGroup* group, bool idle) {
  if (!idle) return nullptr;
  registry.erase(std::find(registry.begin(), registry.end(), group));
  return group;
}

void stop(TickGroup* idle) {
  if (!idle) return;
  idle->stop();
  delete idle;
}

}  // namespace

vl_ticker_entry* vl_ticker_add(int clock, uint64_t phase_ns, uint64_t period_ns, vl_timer_callback callback,
                               void* user_data) {
  if (!callback || period_ns == 0) {
    errno = EINVAL;
    return nullptr;
  }
  auto* entry = new (std::nothrow) vl_ticker_entry{callback, user_data, clock};
  if (!entry) {
    errno = ENOMEM;
    return nullptr;
  }
  TickGroup* idle = nullptr;
  {
    std::lock_guard<std::mutex> lock(registry_mutex);
    TickGroup* group = group_for(clock, phase_ns, period_ns);
    if (group && group->reserve_one()) {
      group->attach(entry);
      return entry;
    }
    if (group) idle = unlist_if_idle(group, group->registered == 0);
  }
  const int err = errno;
  stop(idle);
  delete entry;
  errno = err;
  return nullptr;
}

bool vl_ticker_move(vl_ticker_entry* entry, uint64_t phase_ns, uint64_t period_ns) {
  if (!entry || period_ns == 0) {
    errno = EINVAL;
    return false;
  }
  TickGroup* idle = nullptr;
  bool moved = false;
  {
    std::lock_guard<std::mutex> lock(registry_mutex);
    TickGroup* from = entry->group;
    if (from->matches(entry->clock, phase_ns, period_ns)) return true;
    TickGroup* to = group_for(entry->clock, phase_ns, period_ns);
    if (to && to->reserve_one()) {
      idle = unlist_if_idle(from, from->detach(entry));
      to->attach(entry);
      moved = true;
    } else if (to) {
      idle = unlist_if_idle(to, to->registered == 0);
    }
  }
  const int err = errno;
  stop(idle);
  errno = err;
  return moved;
}

void vl_ticker_remove(vl_ticker_entry* entry) {
  if (!entry) return;
  TickGroup* idle = nullptr;
  {
    std::lock_guard<std::mutex> lock(registry_mutex);
    TickGroup* group = entry->group;
    idle = unlist_if_idle(group, group->detach(entry));
  }
  stop(idle);
  delete entry;
}

size_t vl_ticker_lanes() { return lanes(); }

size_t vl_ticker_set_lanes(size_t count) {
  return lanes_max.exchange(std::min<size_t>(count, vl_ticker_lanes_limit));
}
