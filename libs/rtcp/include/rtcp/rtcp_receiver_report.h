// Report blocks (RFC 3550 6.4.1): written from receiver statistics into SRs
// and RRs, found in received ones; and the receiver report itself.
#pragma once

#include "rtcp/rtcp_pkt.h"

#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr std::size_t vl_rtcp_block_size = 24;

// How many blocks `receivers` give (at most 31).
std::size_t rtcp_rr_count(std::span<const VlReceiverInfo* const> receivers);

// Writes the blocks of `receivers` into `out`, which holds
// rtcp_rr_count(receivers) blocks and is zeroed. Available statistics are
// logged with rtcp_receiver_report_log.
void rtcp_rr_write(std::span<const VlReceiverInfo* const> receivers, std::span<uint8_t> out);

// Body size of the receiver report: 0 without blocks, else the SSRC and
// the blocks.
std::size_t rtcp_receiver_report_size(const VlRtcpReport& report);
// Writes that body into the zeroed `body`.
void rtcp_receiver_report_write(const VlRtcpReport& report, std::span<uint8_t> body);

// Passes the first of `count` blocks at `blocks` whose source is
// `local_ssrc` to the sink, with `reporter_ssrc`. Blocks that `blocks` does
// not hold whole are not read.
void rtcp_report_blocks_evaluate(std::span<const uint8_t> blocks, unsigned count, uint32_t reporter_ssrc,
                                 uint32_t local_ssrc, VlRtcpSink& sink);

// A received RR's body.
void rtcp_receiver_report_evaluate(std::span<const uint8_t> body, unsigned count, uint32_t local_ssrc,
                                   VlRtcpSink& sink);

// The line "RTCP report CNAME:..." about one report block: at trace, or at
// error when the fraction lost is not 0.
void rtcp_receiver_report_log(const char* cname, uint32_t jitter, uint32_t lost_word);
