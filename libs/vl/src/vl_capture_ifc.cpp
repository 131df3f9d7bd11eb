#include "vl/vl_capture_ifc.h"

#include "vl_window_log.h"

namespace {

using vl_window_log::direction;
using vl_window_log::shown;

vl_window_log::Site read_on_border;
vl_window_log::Site read_out_of_bounds;
vl_window_log::Site read_completed_out_of_bounds;

}  // namespace

VlMediaWindow vl_capture_initialise_read(const char* stream_name, VlCaptureIfc* ifc, uint32_t ts) {
  const VlMediaWindow window = ifc->initialise_read(ts);
  if (window.samples && window.frames == 0) {
    VL_WINDOW_WARN(read_on_border,
                   "vl_capture_initialise_read for stream %s: Timestamp 0x%08x exactly on border, no frames can "
                   "be written.",
                   shown(stream_name), ts);
  } else if (!window.samples) {
    VL_WINDOW_WARN(read_out_of_bounds,
                   "vl_capture_initialise_read for stream %s: Timestamp 0x%08x is out of bounds by %d frames (%s).",
                   shown(stream_name), ts, window.frames, direction(window.frames));
  }
  return window;
}

int32_t vl_capture_complete_read(const char* stream_name, VlCaptureIfc* ifc, uint32_t ts, const int32_t* samples,
                                 int32_t frames) {
  const int32_t result = ifc->complete_read(ts, samples, frames);
  if (result != 0) {
    VL_WINDOW_WARN(read_completed_out_of_bounds,
                   "vl_capture_complete_read for stream %s: Timestamp 0x%08x is out of bounds by %d frames (%s).",
                   shown(stream_name), ts, result, direction(result));
  }
  return result;
}
