#include "vl/vl_play_ifc.h"

#include "vl_window_log.h"

namespace {

vl_window_log::InitialiseSites write_sites;
vl_window_log::Site write_completed_out_of_bounds;

}  // namespace

VlMediaWindow vl_play_initialise_write(const char* stream_name, VlPlayIfc* ifc, uint32_t ts) {
  const VlMediaWindow window = ifc->initialise_write(ts);
  vl_window_log::report_initialise(write_sites, "vl_play_initialise_write", stream_name, ts, window);
  return window;
}

int32_t vl_play_complete_write(const char* stream_name, VlPlayIfc* ifc, uint32_t ts, const int32_t* samples,
                               int32_t frames) {
  const int32_t result = ifc->complete_write(ts, samples, frames);
  vl_window_log::report_complete(write_completed_out_of_bounds, "vl_play_complete_write", stream_name, ts, result);
  return result;
}
