// The most timer threads per grid, set for the scope of a test.
#pragma once

#include "vlsys/vl_ticker.h"

namespace vltest {

class TickerLanes {
 public:
  explicit TickerLanes(size_t count) : before_(vl_ticker_set_lanes(count)) {}
  ~TickerLanes() { vl_ticker_set_lanes(before_); }
  TickerLanes(const TickerLanes&) = delete;
  TickerLanes& operator=(const TickerLanes&) = delete;

 private:
  size_t before_;
};

}  // namespace vltest
