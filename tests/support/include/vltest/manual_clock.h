// A clock reference whose time a test sets and whose timers it fires by hand.
//
//   vltest::ManualClock clock("PTPv2 0");   // found by drivers that look it up
//   clock.set_now(1'000'000'000);
//   clock.fire_timers();                    // every timer's callback once
#pragma once

#include "vl/vl_clockref.h"

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace vltest {

class ManualClock : public VlClockref {
 public:
  explicit ManualClock(std::string description = "vltest clock", uint64_t now_ns = 0);
  ~ManualClock() override;

  void set_now(uint64_t ns) { now_.store(ns); }
  void advance(uint64_t ns) { now_.fetch_add(ns); }

  // Calls every live timer's callback once, on the calling thread; a
  // callback may remove timers. Returns the number of calls.
  int fire_timers();
  std::size_t timer_count() const;
  // Start and period of the timer last created.
  uint64_t last_start_ns() const;
  uint64_t last_period_ns() const;

  uint64_t now(int32_t* status) override;
  const char* description() override { return description_.c_str(); }
  bool compatible(const char* description) override;
  VlTimerHandle timer_create(uint64_t start_ns, uint64_t period_ns, vl_timer_callback callback,
                             void* user_data) override;
  bool timer_remove(VlTimerHandle handle) override;

 private:
  struct Timer {
    uint64_t id;  // tells a removed timer from a new one at the same address
    uint64_t start_ns;
    uint64_t period_ns;
    vl_timer_callback callback;
    void* user_data;
  };

  std::string description_;
  std::atomic<uint64_t> now_;
  mutable std::mutex mutex_;
  std::vector<Timer*> timers_;
  uint64_t next_id_ = 1;
  uint64_t last_start_ns_ = 0;
  uint64_t last_period_ns_ = 0;
};

}  // namespace vltest
