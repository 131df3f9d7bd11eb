// The play interface of an audio driver: timestamped writes straight into
// its play ring. It has no timers.
#pragma once

#include "vl/vl_media_ifc.h"

#include <cstdint>

// Embedded in its driver and living exactly as long as it.
class VlPlayIfc {
 public:
  virtual ~VlPlayIfc() = default;

  virtual const VlMediaProperties* properties() = 0;
  // The frame ts in the ring and the frames writable contiguously from it.
  virtual VlMediaWindow initialise_write(uint32_t ts) = 0;
  // Ends a write of `frames` frames to `samples` at ts: 0 when it was in
  // bounds, otherwise the signed number of frames it was out of bounds by.
  virtual int32_t complete_write(uint32_t ts, const int32_t* samples, int32_t frames) = 0;
  virtual VlTimestampRelation timestamp_relation() = 0;
  // The next frame to be played.
  virtual uint32_t current_timestamp() = 0;
};

// The window operations as the codecs call them; see vl_capture_ifc.h.
VlMediaWindow vl_play_initialise_write(const char* stream_name, VlPlayIfc* ifc, uint32_t ts);
int32_t vl_play_complete_write(const char* stream_name, VlPlayIfc* ifc, uint32_t ts, const int32_t* samples,
                               int32_t frames);
