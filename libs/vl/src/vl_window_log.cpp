#include "vl_window_log.h"

#include "vlsys/vl_log.h"

namespace vl_window_log {
namespace {

const char* shown(const char* stream_name) { return stream_name ? stream_name : "(null)"; }

const char* direction(Miss miss) { return miss == Miss::early ? "early" : "late"; }

// The rate limit is consulted only when the record would be written.
bool warnings_admitted() {
  const log4c_category_t* category = vl_log_general();
  return category && log4c_category_get_chainedpriority(category) >= VL_LOG_WARN;
}

void out_of_bounds(Site& site, const char* operation, const char* stream_name, uint32_t ts, int32_t frames,
                   Miss miss) {
  if (!warnings_admitted()) return;
  VL_LOG_SHARED_RATELIMITED_COUNTED(site.limit, vl_log_general(), VL_LOG_WARN,
                                    "%s for stream %s: Timestamp 0x%08x is out of bounds by %d frames (%s).",
                                    operation, shown(stream_name), ts, frames, direction(miss));
}

}  // namespace

void report_initialise(InitialiseSites& sites, const char* operation, const char* stream_name, uint32_t ts,
                       const VlMediaWindow& window, Miss miss) {
  // A negative count at a usable pointer is a refusal as much as a null
  // pointer is: a write the play window refuses must not vanish silently.
  if (!window.samples || window.frames < 0) {
    out_of_bounds(sites.out_of_bounds, operation, stream_name, ts, window.frames, miss);
    return;
  }
  if (window.frames != 0 || !warnings_admitted()) return;
  VL_LOG_SHARED_RATELIMITED_COUNTED(sites.on_border.limit, vl_log_general(), VL_LOG_WARN,
                                    "%s for stream %s: Timestamp 0x%08x exactly on border, no frames can be written.",
                                    operation, shown(stream_name), ts);
}

void report_complete(Site& site, const char* operation, const char* stream_name, uint32_t ts, int32_t result,
                     Miss miss) {
  out_of_bounds(site, operation, stream_name, ts, result, miss);
}

}  // namespace vl_window_log
