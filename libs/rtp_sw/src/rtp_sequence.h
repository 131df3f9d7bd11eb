// Reception statistics of one stream as RFC 3550 keeps them: the sequence
// checker, interarrival jitter and the report block they give.
#pragma once

#include "vl/vl_receiver_info.h"
#include "vlutil/vl_rational.h"

#include <cstdint>

enum class SequenceVerdict { in_order, loss, reordered, restart };

class RtpSequence {
 public:
  // A new source: its first packet is counted in order.
  void reset(uint16_t first_seqno);
  // Counts a packet. `arrival` and `rtp_ts` feed the jitter of in-order
  // packets (both in media clock ticks).
  SequenceVerdict check(uint16_t seqno, uint32_t rtp_ts, uint32_t arrival, uint32_t rate_nom);
  uint16_t highest() const { return highest_; }
  bool is_duplicate(uint16_t seqno) const { return seqno == highest_; }
  // Fills the report block words; the record's lsr is read as given.
  void report(VlReceiverInfo* info, uint32_t source_ssrc, vl_rational timescale);

 private:
  uint16_t highest_ = 0;
  uint32_t cycles_ = 0;
  uint32_t base_ = 0;
  uint32_t received_ = 0;
  uint32_t expected_prior_ = 0;
  uint32_t received_prior_ = 0;
  int32_t last_transit_ = 0;
  int32_t jitter_ = 0;  // scaled by 16
  uint32_t last_rtp_ts_ = 0;
};
