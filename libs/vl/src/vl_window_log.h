// Private to the window wrappers: the rate-limited warnings of the capture
// and play windows, each message site limited on its own.
#pragma once

#include "vl/vl_media_ifc.h"
#include "vlsys/vl_time.h"

#include <atomic>
#include <cstdint>

namespace vl_window_log {

// Several RTP threads can reach the same site at once; the one that holds it
// writes (or is rate-limited), the others drop their message, which the rate
// limit would have dropped anyway.
struct Site {
  std::atomic_flag busy = ATOMIC_FLAG_INIT;
  vl_utc_time last{};
};

// The sites of one initialise operation.
struct InitialiseSites {
  Site on_border;
  Site out_of_bounds;
};

// Warns when `window` offers nothing at ts: `operation` names the wrapper.
void report_initialise(InitialiseSites& sites, const char* operation, const char* stream_name, uint32_t ts,
                       const VlMediaWindow& window);

// Warns when a complete operation found the access out of bounds.
void report_complete(Site& site, const char* operation, const char* stream_name, uint32_t ts, int32_t result);

}  // namespace vl_window_log
