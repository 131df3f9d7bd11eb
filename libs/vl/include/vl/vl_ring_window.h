// The window rules of ring drivers: which frames of a capture or play ring
// of N frames (a power of two) may be accessed at a timestamp, given the
// current timestamp C. All arithmetic is modulo 2^32; counts are signed.
//
// Capture: the ring holds the N frames before C. A read at ts gets C - ts
// frames (0 at the capture position, negative while ts is in the future),
// cut at the ring's end so that a read from the previous lap continues in a
// second call at the lap start. Frames more than N behind C are gone.
//
// Play: the frames from C on are still to be played. A write at ts with a
// lead d = ts - C gets d frames (0 at the play position, negative once ts
// was played), cut at the ring's end and at C + N, beyond which the ring
// holds frames of the current lap that are still to be played.
#pragma once

#include <cstdint>

struct VlRingWindow {
  bool servable;   // false: the frames of ts are gone (the count says by how much)
  uint32_t index;  // ring index of the frame at ts
  int32_t frames;  // contiguous frames from index; below 1: none now
};

// True for the ring sizes the rules work with: a power of two.
bool vl_ring_size_valid(uint32_t buffer_frames);

// The start of the ring lap that contains ts.
inline uint32_t vl_ring_base(uint32_t ts, uint32_t buffer_frames) { return ts & ~(buffer_frames - 1U); }

inline uint32_t vl_ring_index(uint32_t ts, uint32_t buffer_frames) { return ts & (buffer_frames - 1U); }

VlRingWindow vl_ring_read_window(uint32_t ts, uint32_t current, uint32_t buffer_frames);
VlRingWindow vl_ring_write_window(uint32_t ts, uint32_t current, uint32_t buffer_frames);

// Checks a finished access of `frames` frames at ts against the window as it
// is now: 0 when the frames were in bounds the whole time, otherwise the
// frames out of bounds (negative: early, positive: late, as the counts).
int32_t vl_ring_read_overrun(uint32_t ts, int32_t frames, uint32_t current, uint32_t buffer_frames);
int32_t vl_ring_write_overrun(uint32_t ts, int32_t frames, uint32_t current, uint32_t buffer_frames);
