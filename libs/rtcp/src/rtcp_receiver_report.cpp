#include "rtcp/rtcp_receiver_report.h"

#include "rtcp_wire.h"

#include "vlsys/vl_log.h"

#include <algorithm>
#include <cstring>

using rtcp_wire::get32;
using rtcp_wire::put32;

namespace {

constexpr std::size_t ssrc_size = 4;

void write_block(const VlReceiverInfo& info, std::span<uint8_t> block) {
  rtcp_receiver_report_log(info.cname, info.jitter, info.lost);
  const uint32_t words[vl_report_block_words] = {info.ssrc, info.lost, info.last_seq, info.jitter, info.lsr, info.dlsr};
  for (std::size_t i = 0; i < vl_report_block_words; ++i) put32(block, 4 * i, words[i]);
}

// How many of `count` blocks `bytes` holds whole.
unsigned blocks_within(std::span<const uint8_t> bytes, unsigned count) {
  return static_cast<unsigned>(std::min<std::size_t>(count, bytes.size() / vl_rtcp_block_size));
}

}  // namespace

std::size_t rtcp_rr_count(std::span<const VlReceiverInfo* const> receivers) {
  return std::min(receivers.size(), vl_rtcp_max_blocks);
}

void rtcp_rr_write(std::span<const VlReceiverInfo* const> receivers, std::span<uint8_t> out) {
  const std::size_t count = rtcp_rr_count(receivers);
  for (std::size_t i = 0; i < count; ++i)
    if (receivers[i]) write_block(*receivers[i], out.subspan(i * vl_rtcp_block_size, vl_rtcp_block_size));
}

std::size_t rtcp_receiver_report_size(const VlRtcpReport& report) {
  // Even without blocks an RR names its sender (RFC 3550 6.4.2): a bare
  // header is a malformed packet to every peer.
  return ssrc_size + rtcp_rr_count(report.receivers) * vl_rtcp_block_size;
}

void rtcp_receiver_report_write(const VlRtcpReport& report, std::span<uint8_t> body) {
  if (body.empty()) return;
  put32(body, 0, report.ssrc);
  rtcp_rr_write(report.receivers, body.subspan(ssrc_size));
}

void rtcp_report_blocks_evaluate(std::span<const uint8_t> blocks, unsigned count, uint32_t reporter_ssrc,
                                 uint32_t local_ssrc, VlRtcpSink& sink) {
  const unsigned whole = blocks_within(blocks, count);
  for (unsigned i = 0; i < whole; ++i) {
    const std::size_t offset = i * vl_rtcp_block_size;
    if (get32(blocks, offset) != local_ssrc) continue;
    uint32_t block[vl_report_block_words];
    rtcp_wire::get_words(blocks, offset, block);
    sink.report_block(reporter_ssrc, block);
    return;
  }
}

void rtcp_receiver_report_evaluate(std::span<const uint8_t> body, unsigned count, uint32_t local_ssrc,
                                   VlRtcpSink& sink) {
  if (body.size() < ssrc_size) return;
  rtcp_report_blocks_evaluate(body.subspan(ssrc_size), count, get32(body, 0), local_ssrc, sink);
}

void rtcp_receiver_report_log(const char* cname, uint32_t jitter, uint32_t lost_word) {
  const uint32_t fraction_lost = lost_word >> 24;
  // The record's CNAME is meant to be terminated; the bound keeps the log
  // inside the record even when it is not.
  const int cname_length = static_cast<int>(strnlen(cname, vl_cname_size));
  VL_LOG(rtcp_wire::category(), fraction_lost ? VL_LOG_ERROR : VL_LOG_TRACE,
         "RTCP report CNAME:%.*s ---  jitter:%u ---  frac_lost:%u ---  cuml_lost:%u", cname_length, cname, jitter,
         fraction_lost, lost_word & 0xFFFFFFu);
}
