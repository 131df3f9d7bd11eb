#include "vl/vl_ring_window.h"

#include "vlsys/vl_wrap.h"

#include <algorithm>
#include <climits>

namespace {

int32_t frames_to_ring_end(uint32_t index, uint32_t buffer_frames) {
  return static_cast<int32_t>(buffer_frames - index);
}

// Distances of up to half the timestamp range plus a count overflow 32 bits.
int32_t clamped(int64_t frames) { return static_cast<int32_t>(std::clamp<int64_t>(frames, INT32_MIN, INT32_MAX)); }

}  // namespace

bool vl_ring_size_valid(uint32_t buffer_frames) {
  return buffer_frames != 0 && (buffer_frames & (buffer_frames - 1U)) == 0 && buffer_frames <= (1U << 30);
}

VlRingWindow vl_ring_read_window(uint32_t ts, uint32_t current, uint32_t buffer_frames) {
  const uint32_t index = vl_ring_index(ts, buffer_frames);
  const int32_t captured = vl_ts_delta(ts, current);
  if (captured <= 0) return {true, index, captured};
  const int32_t ring = static_cast<int32_t>(buffer_frames);
  // Overwritten by later laps: a count up to the ring's end would hand out
  // samples of another timestamp.
  if (captured > ring) return {false, index, captured - ring};
  return {true, index, std::min(captured, frames_to_ring_end(index, buffer_frames))};
}

VlRingWindow vl_ring_write_window(uint32_t ts, uint32_t current, uint32_t buffer_frames) {
  const uint32_t index = vl_ring_index(ts, buffer_frames);
  const int32_t lead = vl_ts_delta(current, ts);
  if (lead <= 0) return {true, index, lead};
  const int32_t ring = static_cast<int32_t>(buffer_frames);
  // A lead of N or more would land on frames of the current lap still to be
  // played; up to C + N is free.
  const int32_t before_unplayed = ring - lead;
  if (before_unplayed <= 0) return {true, index, before_unplayed};
  return {true, index, std::min({lead, before_unplayed, frames_to_ring_end(index, buffer_frames)})};
}

int32_t vl_ring_read_overrun(uint32_t ts, int32_t frames, uint32_t current, uint32_t buffer_frames) {
  if (frames <= 0) return 0;
  const int32_t captured = vl_ts_delta(ts, current);
  if (captured < frames) return clamped(static_cast<int64_t>(captured) - frames);
  const int64_t overwritten = static_cast<int64_t>(captured) - buffer_frames;
  return overwritten > 0 ? clamped(overwritten) : 0;
}

int32_t vl_ring_write_overrun(uint32_t ts, int32_t frames, uint32_t current, uint32_t buffer_frames) {
  if (frames <= 0) return 0;
  const int32_t lead = vl_ts_delta(current, ts);
  if (lead < 0) return lead;
  const int64_t beyond = static_cast<int64_t>(lead) + frames - buffer_frames;
  return beyond > 0 ? clamped(beyond) : 0;
}
