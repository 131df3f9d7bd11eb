#include "vl_window_log.h"

#include "vlsys/vl_log.h"
#include "vlsys/vl_log_ratelimit.h"

namespace vl_window_log {
namespace {

const char* shown(const char* stream_name) { return stream_name ? stream_name : "(null)"; }

const char* direction(Miss miss) { return miss == Miss::early ? "early" : "late"; }

// The rate limit is consulted only when the record would be written.
bool enter(Site& site) {
  const log4c_category_t* category = vl_log_general();
  if (!category || log4c_category_get_chainedpriority(category) < VL_LOG_WARN) return false;
  return !site.busy.test_and_set(std::memory_order_acquire);
}

void leave(Site& site) { site.busy.clear(std::memory_order_release); }

void out_of_bounds(Site& site, const char* operation, const char* stream_name, uint32_t ts, int32_t frames,
                   Miss miss) {
  if (!enter(site)) return;
  VL_LOG_RATELIMITED(&site.last, vl_log_general(), VL_LOG_WARN,
                     "%s for stream %s: Timestamp 0x%08x is out of bounds by %d frames (%s).", operation,
                     shown(stream_name), ts, frames, direction(miss));
  leave(site);
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
  if (window.frames != 0 || !enter(sites.on_border)) return;
  VL_LOG_RATELIMITED(&sites.on_border.last, vl_log_general(), VL_LOG_WARN,
                     "%s for stream %s: Timestamp 0x%08x exactly on border, no frames can be written.", operation,
                     shown(stream_name), ts);
  leave(sites.on_border);
}

void report_complete(Site& site, const char* operation, const char* stream_name, uint32_t ts, int32_t result,
                     Miss miss) {
  if (result != 0) out_of_bounds(site, operation, stream_name, ts, result, miss);
}

}  // namespace vl_window_log
