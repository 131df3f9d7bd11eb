#include "vl/vl_play_ifc.h"

#include "vl_window_log.h"
#include "vlsys/vl_wrap.h"

namespace {

vl_window_log::InitialiseSites write_sites;
vl_window_log::Site write_completed_out_of_bounds;

// The count's sign cannot tell: a write too far ahead is refused with a
// negative count as well as one whose frames were already played.
vl_window_log::Miss miss(VlPlayIfc* ifc, uint32_t ts) {
  return vl_ts_delta(ifc->current_timestamp(), ts) < 0 ? vl_window_log::Miss::late : vl_window_log::Miss::early;
}

}  // namespace

VlMediaWindow vl_play_initialise_write(const char* stream_name, VlPlayIfc* ifc, uint32_t ts) {
  const VlMediaWindow window = ifc->initialise_write(ts);
  if (vl_window_log::refused(window))
    vl_window_log::report_initialise(write_sites, "vl_play_initialise_write", stream_name, ts, window, miss(ifc, ts));
  return window;
}

int32_t vl_play_complete_write(const char* stream_name, VlPlayIfc* ifc, uint32_t ts, const int32_t* samples,
                               int32_t frames) {
  const int32_t result = ifc->complete_write(ts, samples, frames);
  if (result != 0)
    vl_window_log::report_complete(write_completed_out_of_bounds, "vl_play_complete_write", stream_name, ts, result,
                                   miss(ifc, ts));
  return result;
}
