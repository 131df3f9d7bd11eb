// Private to the window wrappers: the rate-limited warnings of the capture
// and play windows, each message site limited on its own.
#pragma once

#include "vl/vl_media_ifc.h"
#include "vlsys/vl_log_ratelimit.h"

#include <cstdint>

namespace vl_window_log {

// Several RTP threads can reach the same site at once: the shared limit lets
// one of them write, and its message says how many the others held back.
struct Site {
  VlRateLimit limit;
};

// The sites of one initialise operation.
struct InitialiseSites {
  Site on_border;
  Site out_of_bounds;
};

// Which way an access missed its window, as the messages name it.
enum class Miss { early, late };

// The capture windows' counts: negative while ts is still to be captured.
inline Miss miss_by_count(int32_t frames) { return frames < 0 ? Miss::early : Miss::late; }

// True when `window` offers no frame at all.
inline bool refused(const VlMediaWindow& window) { return !window.samples || window.frames < 1; }

// Warns about a refused `window` at ts: a count of 0 at a usable pointer is
// the border, anything else out of bounds. `operation` names the wrapper.
void report_initialise(InitialiseSites& sites, const char* operation, const char* stream_name, uint32_t ts,
                       const VlMediaWindow& window, Miss miss);

// Warns that a complete operation found the access out of bounds by
// `result` (not 0).
void report_complete(Site& site, const char* operation, const char* stream_name, uint32_t ts, int32_t result,
                     Miss miss);

}  // namespace vl_window_log
