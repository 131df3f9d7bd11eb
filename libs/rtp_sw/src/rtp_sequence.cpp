#include "rtp_sequence.h"

#include "vlsys/vl_wrap.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr uint16_t max_dropout = 3000;
constexpr uint16_t max_misorder = 100;

}  // namespace

// The first packet then counts as the successor of highest_. When it is
// number 0, its predecessor lies in the cycle before, so that the step to 0
// does not count a wrap.
void RtpSequence::reset(uint16_t first_seqno) {
  restart_counts(first_seqno);
  received_ = 0;
  highest_ = static_cast<uint16_t>(first_seqno - 1);
  if (first_seqno == 0) cycles_ = 0u - 65536u;
  jitter_ = 0;
}

void RtpSequence::restart_counts(uint16_t seqno) {
  cycles_ = 0;
  received_ = 1;
  expected_prior_ = 0;
  received_prior_ = 0;
  last_rtp_ts_ = 0;
  have_transit_ = false;
  highest_ = seqno;
  base_ = seqno;
}

// RFC 3550 6.4.1: J += (|D| - J) / 16, kept scaled by 16. Transit times are
// media-clock differences that may lie anywhere on the 32-bit circle.
void RtpSequence::update_jitter(uint32_t rtp_ts, uint32_t arrival) {
  const uint32_t transit = arrival - rtp_ts;
  if (have_transit_) {
    const int64_t d = vl_ts_distance(last_transit_, transit);
    const int64_t jitter = int64_t{jitter_} + d - ((int64_t{jitter_} + 8) >> 4);
    jitter_ = static_cast<uint32_t>(std::clamp<int64_t>(jitter, 0, UINT32_MAX));
  }
  last_transit_ = transit;
  have_transit_ = true;
}

SequenceVerdict RtpSequence::check(uint16_t seqno, uint32_t rtp_ts, uint32_t arrival) {
  const uint16_t delta = vl_seq_ahead(highest_, seqno);
  if (delta >= max_dropout && delta <= static_cast<uint16_t>(65535 - max_misorder + 1)) {
    // Counted after the reset, so an unbroken stream that restarts its
    // numbering loses nothing.
    restart_counts(seqno);
    return SequenceVerdict::restart;
  }
  ++received_;
  if (delta > static_cast<uint16_t>(65535 - max_misorder + 1)) return SequenceVerdict::reordered;
  if (seqno < highest_) cycles_ += 65536;
  highest_ = seqno;
  if (delta != 1) return SequenceVerdict::loss;
  last_rtp_ts_ = rtp_ts;
  update_jitter(rtp_ts, arrival);
  return SequenceVerdict::in_order;
}

void RtpSequence::report(VlReceiverInfo* info, uint32_t source_ssrc, vl_rational timescale) {
  const uint32_t extended_highest = highest_ + cycles_;
  const uint32_t expected = extended_highest - base_ + 1;
  const uint32_t cumulative_lost = (expected - received_) & 0xFFFFFF;
  const auto expected_interval = static_cast<int32_t>(expected - expected_prior_);
  const auto received_interval = static_cast<int32_t>(received_ - received_prior_);
  expected_prior_ = expected;
  received_prior_ = received_;
  const int64_t lost_interval = int64_t{expected_interval} - received_interval;
  const uint32_t fraction = 0xFF &
      (expected_interval > 0 && lost_interval > 0
          ? static_cast<uint32_t>((lost_interval << 8) / expected_interval)
          : 0);
  info->ssrc = source_ssrc;
  info->lost = (fraction << 24) | cumulative_lost;
  info->last_seq = extended_highest;
  info->jitter = jitter_ >> 4;
  const uint64_t since = vl_ts_distance(info->lsr, last_rtp_ts_);
  info->dlsr = timescale.nom > 0
                   ? static_cast<uint32_t>(since * 65536ULL * static_cast<uint64_t>(timescale.den) /
                                           static_cast<uint64_t>(timescale.nom))
                   : 0;
}
