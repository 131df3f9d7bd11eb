// The capture interface of an audio driver: timestamped reads straight out
// of its capture ring, and the timers that pace the sender. Media
// timestamps are the driver's own 32-bit frame counter, wrapping modulo 2^32.
#pragma once

#include "vl/vl_media_ifc.h"
#include "vl/vl_ptp.h"

#include <cstdint>

// Called on a thread of the driver with the capture timestamp served, the
// PTP time of that timestamp and the current capture timestamp.
using vl_capture_timer_callback = void (*)(void* user, uint32_t ts, uint64_t ptp_ns, uint32_t current_ts);

// Embedded in its driver and living exactly as long as it.
class VlCaptureIfc {
 public:
  virtual ~VlCaptureIfc() = default;

  virtual const VlMediaProperties* properties() = 0;
  // The frame ts in the ring and the frames readable contiguously from it.
  virtual VlMediaWindow initialise_read(uint32_t ts) = 0;
  // initialise_read for a reader that accesses at most `wanted` frames: a
  // driver that computes its samples on demand computes only those. A ring
  // offers its whole window.
  virtual VlMediaWindow initialise_read_frames(uint32_t ts, uint32_t wanted) {
    (void)wanted;
    return initialise_read(ts);
  }
  // Ends a read of `frames` frames from `samples` at ts: 0 when it was in
  // bounds, otherwise the signed number of frames it was out of bounds by.
  virtual int32_t complete_read(uint32_t ts, const int32_t* samples, int32_t frames) = 0;
  virtual VlTimestampRelation timestamp_relation() = 0;
  // The next frame to be captured: every frame before it is in the ring.
  virtual uint32_t current_timestamp() = 0;
  // A periodic callback every *interval frames from start_ts; the driver may
  // raise *interval and writes back what it uses. Null with errno on failure.
  virtual VlTimerHandle timer_set(uint32_t start_ts, uint32_t* interval, vl_capture_timer_callback callback,
                                  void* user) = 0;
  // When it returns true, no callback of the timer runs or will run.
  virtual bool timer_remove(VlTimerHandle handle) = 0;
};

// The window operations as the codecs call them: the stream's name for the
// messages, then the operation's own arguments. They return the operation's
// result unchanged and log out-of-bounds accesses (rate-limited per message).
VlMediaWindow vl_capture_initialise_read(const char* stream_name, VlCaptureIfc* ifc, uint32_t ts);
// The same through initialise_read_frames, with the same messages.
VlMediaWindow vl_capture_initialise_read_frames(const char* stream_name, VlCaptureIfc* ifc, uint32_t ts,
                                                uint32_t wanted);
int32_t vl_capture_complete_read(const char* stream_name, VlCaptureIfc* ifc, uint32_t ts, const int32_t* samples,
                                 int32_t frames);
