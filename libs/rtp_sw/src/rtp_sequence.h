// Reception statistics of one stream as RFC 3550 keeps them: the sequence
// checker, interarrival jitter and the report block they give.
#pragma once

#include "vl/vl_receiver_info.h"
#include "vlutil/vl_rational.h"

#include <cstdint>

enum class SequenceVerdict { in_order, loss, reordered, restart };

class RtpSequence {
 public:
  // A new source: its first packet is counted in order and its jitter
  // starts again.
  void reset(uint16_t first_seqno);
  // Counts a packet. `arrival` and `rtp_ts` feed the jitter of in-order
  // packets (both in media clock ticks).
  SequenceVerdict check(uint16_t seqno, uint32_t rtp_ts, uint32_t arrival);
  uint16_t highest() const { return highest_; }
  bool is_duplicate(uint16_t seqno) const { return seqno == highest_; }
  // Fills the report block words; the record's lsr is read as given.
  void report(VlReceiverInfo* info, uint32_t source_ssrc, vl_rational timescale);

 private:
  void restart_counts(uint16_t seqno);
  void update_jitter(uint32_t rtp_ts, uint32_t arrival);

  uint16_t highest_ = 0;
  uint32_t cycles_ = 0;
  uint32_t base_ = 0;
  uint32_t received_ = 0;
  uint32_t expected_prior_ = 0;
  uint32_t received_prior_ = 0;
  bool have_transit_ = false;  // the first in-order packet only sets the transit
  uint32_t last_transit_ = 0;
  uint32_t jitter_ = 0;  // scaled by 16
  uint32_t last_rtp_ts_ = 0;
};
