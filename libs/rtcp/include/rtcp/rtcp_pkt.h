// RTCP packets (RFC 3550 6.4 to 6.6): the compound report a session sends
// and the evaluation of the datagrams it receives. Stateless: the session
// gathers its statistics under its own locks before writing, and applies
// what evaluation finds through a sink.
#pragma once

#include "vl/vl_receiver_info.h"
#include "vl/vl_sender_info.h"

#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr uint8_t vl_rtcp_sr = 200;
inline constexpr uint8_t vl_rtcp_rr = 201;
inline constexpr uint8_t vl_rtcp_sdes = 202;
inline constexpr uint8_t vl_rtcp_bye = 203;

inline constexpr std::size_t vl_rtcp_header_size = 4;
inline constexpr std::size_t vl_rtcp_compound_size = 4096;  // room for the largest compound report
inline constexpr std::size_t vl_rtcp_receive_size = 1464;
inline constexpr std::size_t vl_rtcp_min_datagram = 5;  // shorter datagrams are not evaluated
inline constexpr std::size_t vl_rtcp_max_blocks = 31;   // what the 5-bit count can state

// A kernel socket filter (classic BPF) that keeps only UDP datagrams
// beginning with an RTCP packet: version 2, packet type 192 to 223, which
// RTP never uses in that byte (RFC 5761).
struct sock_fprog;
const sock_fprog* vl_rtcp_socket_filter();

// What one report of a session states.
struct VlRtcpReport {
  uint32_t ssrc = 0;       // the session's
  const char* cname = "";  // the session's; at most 126 characters go out
  bool has_sender = false;  // the session has a sender stream: SR rather than RR
  // The sender stream's statistics; null when they are not available, which
  // gives a bare SR header.
  const VlSenderInfo* sender_info = nullptr;
  bool sender_closed = false;  // with has_sender: a BYE follows
  // One entry per receiver stream: its statistics, or null when they are not
  // available (its report block stays zero). Beyond 31 entries none are sent.
  std::span<const VlReceiverInfo* const> receivers;
};

// Writes the packet of `type` for `report` into `out`, length field in
// network byte order. Returns its size in bytes; 0 for a BYE that is not
// due; -1 with errno EINVAL for another type, ENOBUFS when `out` is too small.
int vl_rtcppacket_write(uint8_t type, const VlRtcpReport& report, std::span<uint8_t> out);

// The compound report: SR (with a sender) or RR, SDES, and the BYE when due.
// Returns its size in bytes, or -1 with errno ENOBUFS.
int vl_rtcp_compound_write(const VlRtcpReport& report, std::span<uint8_t> out);

// Receives what evaluation finds, in the order of the datagram.
class VlRtcpSink {
 public:
  virtual ~VlRtcpSink() = default;
  // The sender information of an SR: the sender's SSRC and the five words
  // NTP seconds, NTP fraction, RTP timestamp, packet count, octet count.
  virtual void sender_report(uint32_t sender_ssrc, const uint32_t report[vl_sender_report_words]) = 0;
  // The first report block of an SR or RR about the local SSRC, with the
  // SSRC of the reporting packet.
  virtual void report_block(uint32_t reporter_ssrc, const uint32_t block[vl_report_block_words]) = 0;
  // A CNAME item, zero-terminated and cut to 126 characters.
  virtual void cname(uint32_t ssrc, const char* cname) = 0;
  // A source that said goodbye.
  virtual void bye(uint32_t ssrc) = 0;
};

// The receiving session as evaluation sees it.
struct VlRtcpEndpoint {
  uint32_t ssrc = 0;            // report blocks about this source are passed on
  const char* address = "";     // session address and port, for the log
  int port = 0;
};

// Evaluates one received datagram of RTCP packets. Counts and lengths from
// the wire are trusted only as far as the datagram reaches; a packet that
// runs past it ends the evaluation.
void evaluate_rtcp_pkt(std::span<const uint8_t> datagram, const VlRtcpEndpoint& local, VlRtcpSink& sink);
