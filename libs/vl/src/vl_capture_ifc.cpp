#include "vl/vl_capture_ifc.h"

#include "vl_window_log.h"

namespace {

vl_window_log::InitialiseSites read_sites;
vl_window_log::Site read_completed_out_of_bounds;

// Logs a refused window of an initialise.

VlMediaWindow checked(const char* stream_name, uint32_t ts, const VlMediaWindow& window) {
  if (vl_window_log::refused(window))
    vl_window_log::report_initialise(read_sites, "vl_capture_initialise_read", stream_name, ts, window,
                                     vl_window_log::miss_by_count(window.frames));
  return window;
}

}  // namespace

VlMediaWindow vl_capture_initialise_read(const char* stream_name, VlCaptureIfc* ifc, uint32_t ts) {
  return checked(stream_name, ts, ifc->initialise_read(ts));
}

VlMediaWindow vl_capture_initialise_read_frames(const char* stream_name, VlCaptureIfc* ifc, uint32_t ts,
                                                uint32_t wanted) {
  return checked(stream_name, ts, ifc->initialise_read_frames(ts, wanted));
}

int32_t vl_capture_complete_read(const char* stream_name, VlCaptureIfc* ifc, uint32_t ts, const int32_t* samples,
                                 int32_t frames) {
  const int32_t result = ifc->complete_read(ts, samples, frames);
  if (result != 0)
    vl_window_log::report_complete(read_completed_out_of_bounds, "vl_capture_complete_read", stream_name, ts, result,
                                   vl_window_log::miss_by_count(result));
  return result;
}
