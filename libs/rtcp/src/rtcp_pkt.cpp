#include "rtcp/rtcp_pkt.h"

#include "rtcp/rtcp_receiver_report.h"
#include "rtcp_wire.h"

#include "vlsys/vl_log.h"

#include <linux/filter.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

using rtcp_wire::get16;
using rtcp_wire::get32;
using rtcp_wire::put16;
using rtcp_wire::put32;
using rtcp_wire::round_up4;

namespace {

constexpr uint8_t version_2 = 0x80;
constexpr uint8_t count_mask = 0x1F;
constexpr std::size_t ssrc_size = 4;
constexpr std::size_t sender_info_size = 24;  // the sender's SSRC and five words
constexpr std::size_t cname_max_length = vl_cname_size - 1;
constexpr uint8_t sdes_cname = 1;
constexpr std::size_t sdes_item_header = 2;  // type and length
constexpr std::size_t sdes_min_chunk = 7;     // an SSRC, an empty item and the end of the list

// Size and header count of a body about to be written.
struct BodyShape {
  std::size_t size;
  std::size_t count;
};

std::size_t cname_length(const VlRtcpReport& report) {
  return report.cname ? strnlen(report.cname, cname_max_length) : 0;
}

BodyShape sender_report_shape(const VlRtcpReport& report) {
  if (!report.sender_info) return {0, 0};
  const std::size_t count = rtcp_rr_count(report.receivers);
  return {sender_info_size + count * vl_rtcp_block_size, count};
}

void sender_report_write(const VlRtcpReport& report, std::span<uint8_t> body) {
  if (body.empty()) return;
  const VlSenderInfo& info = *report.sender_info;
  const uint32_t words[] = {report.ssrc, info.ntp_sec, info.ntp_frac, info.rtp_ts, info.psend, info.osend};
  for (std::size_t i = 0; i < std::size(words); ++i) put32(body, 4 * i, words[i]);
  rtcp_rr_write(report.receivers, body.subspan(sender_info_size));
}

BodyShape receiver_report_shape(const VlRtcpReport& report) {
  const std::size_t size = rtcp_receiver_report_size(report);
  return {size, size ? rtcp_rr_count(report.receivers) : 0};
}

BodyShape sdes_shape(const VlRtcpReport& report) {
  return {ssrc_size + sdes_item_header + cname_length(report) + 1, 1};
}

// The item list's end and the padding are the zeros already in the body.
void sdes_write(const VlRtcpReport& report, std::span<uint8_t> body) {
  const std::size_t length = cname_length(report);
  put32(body, 0, report.ssrc);
  body[ssrc_size] = sdes_cname;
  body[ssrc_size + 1] = static_cast<uint8_t>(length);
  if (length) std::memcpy(&body[ssrc_size + sdes_item_header], report.cname, length);
}

BodyShape bye_shape(const VlRtcpReport& report) {
  if (report.has_sender && report.sender_closed) return {ssrc_size, 1};
  return {0, 0};
}

void bye_write(const VlRtcpReport& report, std::span<uint8_t> body) { put32(body, 0, report.ssrc); }

struct PacketKind {
  uint8_t type;
  BodyShape (*shape)(const VlRtcpReport&);
  void (*write)(const VlRtcpReport&, std::span<uint8_t>);
};

constexpr PacketKind packet_kinds[] = {
    {vl_rtcp_sr, sender_report_shape, sender_report_write},
    {vl_rtcp_rr, receiver_report_shape, rtcp_receiver_report_write},
    {vl_rtcp_sdes, sdes_shape, sdes_write},
    {vl_rtcp_bye, bye_shape, bye_write},
};

const PacketKind* find_kind(uint8_t type) {
  for (const PacketKind& kind : packet_kinds)
    if (kind.type == type) return &kind;
  return nullptr;
}

const char* packet_name(uint8_t type) {
  switch (type) {
    case vl_rtcp_sr: return "sender report";
    case vl_rtcp_rr: return "receiver report";
    case vl_rtcp_sdes: return "SDES";
    case vl_rtcp_bye: return "RTCP bye";
    default: return "RTCP report";
  }
}

void rtcp_sender_report_evaluate(std::span<const uint8_t> body, unsigned count, uint32_t local_ssrc, VlRtcpSink& sink) {
  if (body.size() < sender_info_size) return;
  const uint32_t sender_ssrc = get32(body, 0);
  uint32_t report[vl_sender_report_words];
  rtcp_wire::get_words(body, ssrc_size, report);
  sink.sender_report(sender_ssrc, report);
  rtcp_report_blocks_evaluate(body.subspan(sender_info_size), count, sender_ssrc, local_ssrc, sink);
}

void cname_evaluate(uint32_t ssrc, std::span<const uint8_t> text, VlRtcpSink& sink) {
  char cname[vl_cname_size];
  const std::size_t length = std::min(text.size(), cname_max_length);
  std::memcpy(cname, text.data(), length);
  cname[length] = '\0';
  sink.cname(ssrc, cname);
}

// Walks the items of one chunk from `pos`. Returns where the list ends, or
// nothing when an item runs past the body.
std::optional<std::size_t> sdes_items_evaluate(std::span<const uint8_t> body, std::size_t pos, uint32_t ssrc,
                                               VlRtcpSink& sink) {
  while (pos < body.size() && body[pos] != 0) {
    if (body.size() - pos < sdes_item_header) return std::nullopt;
    const std::size_t length = body[pos + 1];
    if (body.size() - pos - sdes_item_header < length) return std::nullopt;
    if (body[pos] == sdes_cname) cname_evaluate(ssrc, body.subspan(pos + sdes_item_header, length), sink);
    pos += sdes_item_header + length;
  }
  return pos;
}

void rtcp_sdes_evaluate(std::span<const uint8_t> body, VlRtcpSink& sink) {
  std::size_t pos = 0;
  while (pos < body.size() && body.size() - pos >= sdes_min_chunk) {
    const std::optional<std::size_t> end = sdes_items_evaluate(body, pos + ssrc_size, get32(body, pos), sink);
    if (!end) return;
    pos = round_up4(*end + 1);  // past the list's end and the padding
  }
}

void rtcp_bye_evaluate(std::span<const uint8_t> body, unsigned count, VlRtcpSink& sink) {
  const std::size_t sources = std::min<std::size_t>(count, body.size() / ssrc_size);
  for (std::size_t i = 0; i < sources; ++i) sink.bye(get32(body, i * ssrc_size));
}

void packet_evaluate(uint8_t type, unsigned count, std::span<const uint8_t> body, const VlRtcpEndpoint& local,
                     VlRtcpSink& sink) {
  VL_LOG(rtcp_wire::category(), VL_LOG_DEBUG, "Received %s for session: %s:%i", packet_name(type),
         local.address ? local.address : "", local.port);
  switch (type) {
    case vl_rtcp_sr: rtcp_sender_report_evaluate(body, count, local.ssrc, sink); break;
    case vl_rtcp_rr: rtcp_receiver_report_evaluate(body, count, local.ssrc, sink); break;
    case vl_rtcp_sdes: rtcp_sdes_evaluate(body, sink); break;
    case vl_rtcp_bye: rtcp_bye_evaluate(body, count, sink); break;
    default: break;
  }
}

}  // namespace

const sock_fprog* vl_rtcp_socket_filter() {
  constexpr uint32_t first_byte = 8;  // the filter sees the UDP header first
  static sock_filter code[] = {
      BPF_STMT(BPF_LD | BPF_B | BPF_ABS, first_byte),
      BPF_STMT(BPF_ALU | BPF_AND | BPF_K, 0xc0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0x80, 0, 3),  // version 2
      BPF_STMT(BPF_LD | BPF_B | BPF_ABS, first_byte + 1),
      BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 192, 0, 1),
      BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, 223, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, 0),           // drop
      BPF_STMT(BPF_RET | BPF_K, 0xffffffff),  // keep all of it
  };
  static const sock_fprog program = {sizeof code / sizeof code[0], code};
  return &program;
}

int vl_rtcppacket_write(uint8_t type, const VlRtcpReport& report, std::span<uint8_t> out) {
  const PacketKind* kind = find_kind(type);
  if (!kind) {
    errno = EINVAL;
    return -1;
  }
  const BodyShape body = kind->shape(report);
  if (type == vl_rtcp_bye && body.count == 0) return 0;
  const std::size_t size = vl_rtcp_header_size + round_up4(body.size);
  if (size > out.size()) {
    errno = ENOBUFS;
    return -1;
  }
  const std::span<uint8_t> packet = out.first(size);
  std::fill(packet.begin(), packet.end(), uint8_t{0});
  packet[0] = static_cast<uint8_t>(version_2 | (body.count & count_mask));
  packet[1] = type;
  put16(packet, 2, static_cast<uint16_t>(size / 4 - 1));
  kind->write(report, packet.subspan(vl_rtcp_header_size, body.size));
  return static_cast<int>(size);
}

int vl_rtcp_compound_write(const VlRtcpReport& report, std::span<uint8_t> out) {
  // A sender that has not sent a packet yet (the report at once for a new
  // sender) reports as a receiver: an SR would pair an NTP time with RTP
  // timestamp 0, and peers take their NTP/RTP mapping from SRs.
  const bool sent = report.has_sender && !(report.sender_info && report.sender_info->psend == 0);
  const uint8_t types[] = {sent ? vl_rtcp_sr : vl_rtcp_rr, vl_rtcp_sdes, vl_rtcp_bye};
  std::size_t used = 0;
  for (uint8_t type : types) {
    const int size = vl_rtcppacket_write(type, report, out.subspan(used));
    if (size < 0) return -1;
    used += static_cast<std::size_t>(size);
  }
  return static_cast<int>(used);
}

void evaluate_rtcp_pkt(std::span<const uint8_t> datagram, const VlRtcpEndpoint& local, VlRtcpSink& sink) {
  if (datagram.size() < vl_rtcp_min_datagram) return;
  std::size_t offset = 0;
  while (datagram.size() - offset >= vl_rtcp_header_size) {
    const std::span<const uint8_t> rest = datagram.subspan(offset);
    const std::size_t packet_size = (std::size_t{get16(rest, 2)} + 1) * 4;
    if (packet_size > rest.size()) return;
    const unsigned count = rest[0] & count_mask;
    packet_evaluate(rest[1], count, rest.subspan(vl_rtcp_header_size, packet_size - vl_rtcp_header_size), local,
                    sink);
    offset += packet_size;
  }
}
