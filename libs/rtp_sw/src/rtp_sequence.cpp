#include "rtp_sequence.h"

#include <cstdlib>

namespace {

constexpr uint16_t max_dropout = 3000;
constexpr uint16_t max_misorder = 100;

}  // namespace

void RtpSequence::reset(uint16_t first_seqno) {
  cycles_ = 0;
  received_ = 0;
  expected_prior_ = 0;
  received_prior_ = 0;
  last_rtp_ts_ = 0;
  base_ = first_seqno;
  highest_ = static_cast<uint16_t>(first_seqno - 1);
}

SequenceVerdict RtpSequence::check(uint16_t seqno, uint32_t rtp_ts, uint32_t arrival, uint32_t rate_nom) {
  ++received_;
  const auto delta = static_cast<uint16_t>(seqno - highest_);
  if (delta == 1) {
    last_rtp_ts_ = rtp_ts;
    const auto transit = static_cast<int32_t>(arrival - rate_nom - rtp_ts);
    const int32_t d = transit - last_transit_;
    last_transit_ = transit;
    jitter_ += std::abs(d) - ((jitter_ + 8) >> 4);
    if (seqno < highest_) cycles_ += 65536;
    highest_ = seqno;
    return SequenceVerdict::in_order;
  }
  if (delta < max_dropout) {
    if (seqno < highest_) cycles_ += 65536;
    highest_ = seqno;
    return SequenceVerdict::loss;
  }
  if (delta > static_cast<uint16_t>(65535 - max_misorder + 1)) return SequenceVerdict::reordered;
  cycles_ = 0;
  received_ = 0;
  expected_prior_ = 0;
  received_prior_ = 0;
  last_rtp_ts_ = 0;
  highest_ = seqno;
  base_ = seqno;
  return SequenceVerdict::restart;
}

void RtpSequence::report(VlReceiverInfo* info, uint32_t source_ssrc, vl_rational timescale) {
  const uint32_t extended_highest = highest_ + cycles_;
  const uint32_t expected = extended_highest - base_ + 1;
  const uint32_t cumulative_lost = (expected - received_) & 0xFFFFFF;
  const auto expected_interval = static_cast<int32_t>(expected - expected_prior_);
  const auto received_interval = static_cast<int32_t>(received_ - received_prior_);
  expected_prior_ = expected;
  received_prior_ = received_;
  const int32_t lost_interval = expected_interval - received_interval;
  const uint32_t fraction = 0xFF &
      (expected_interval > 0 && lost_interval > 0
          ? static_cast<uint32_t>((static_cast<int64_t>(lost_interval) << 8) / expected_interval)
          : 0);
  info->ssrc = source_ssrc;
  info->lost = (fraction << 24) | cumulative_lost;
  info->last_seq = extended_highest;
  info->jitter = static_cast<uint32_t>(jitter_ >> 4);
  const uint64_t since = static_cast<uint64_t>(std::llabs(static_cast<int64_t>(last_rtp_ts_) - info->lsr));
  info->dlsr = timescale.nom > 0
                   ? static_cast<uint32_t>(since * 65536ULL * static_cast<uint64_t>(timescale.den) /
                                           static_cast<uint64_t>(timescale.nom))
                   : 0;
}
