// What the capture and play interfaces of an audio driver have in common:
// the properties record and the results of their window and time queries.
#pragma once

#include "vlutil/vl_rational.h"

#include <cstdint>

class VlClockref;

// Owned by the driver, valid while the driver lives.
struct VlMediaProperties {
  vl_rational rate;              // frames per second
  VlClockref* clockref;          // times the driver's samples
  uint32_t channels;             // samples per frame: the frame stride of the ring
  uint32_t buffer_frames;        // ring capacity in frames
  const int32_t* channel_table;  // device channel numbers for channel maps; null: none
  uint32_t block_frames;         // the driver's processing block
};

// Where the frame of a timestamp lives and how many frames may be accessed
// contiguously from there. A count below 1 means nothing can be accessed at
// that timestamp now (negative: early); a null pointer means it cannot be
// served at all (driver stopping, or the frames are gone).
struct VlMediaWindow {
  int32_t* samples;
  int32_t frames;
};

// A media timestamp and the PTP time in nanoseconds that belongs to it.
struct VlTimestampRelation {
  uint32_t ts;
  uint64_t ptp_ns;
};
