// What a sender reports in its RTCP sender reports, and its JSON form.
#pragma once

#include <jansson.h>

#include <cstdint>

// The words of an SR's sender information, in packet order, behind the
// sender's SSRC.
struct VlSenderInfo {
  uint32_t ssrc;
  uint32_t ntp_sec;
  uint32_t ntp_frac;
  uint32_t rtp_ts;
  uint32_t psend;  // packets sent
  uint32_t osend;  // octets sent
};

// Number of words of a received SR's report: NTP seconds, NTP fraction,
// RTP timestamp, packet count, octet count.
inline constexpr int vl_sender_report_words = 5;

// A new copy (free with vl_sender_info_dtor), or null for null or without
// memory.
VlSenderInfo* vl_sender_info_copy(const VlSenderInfo* info);
void vl_sender_info_dtor(VlSenderInfo* info);

// The object {"rtcp_ntp_sec", "rtcp_ntp_frac", "rtcp_rtp_ts", "rtcp_psend",
// "rtcp_osend"} in this order; the SSRC is not encoded. Null for null.
json_t* vl_sender_info_encode(const VlSenderInfo* info);

// A new record from an object of exactly those five members (SSRC 0), or
// null.
VlSenderInfo* vl_sender_info_decode(const json_t* json);

// Stores a received SR: the sender's SSRC and the report's five words.
// Warns about a report of no packets and logs an error when the packet count
// has not moved since the stored report. Null records are ignored.
void vl_sender_info_update(VlSenderInfo* info, uint32_t ssrc, const uint32_t report[vl_sender_report_words]);

// NTP timestamp of `ns` nanoseconds of PTP time: NTP seconds in the low 32
// bits, the fraction in the high 32 bits, so that the 64-bit word stored in
// memory lays out as seconds then fraction. No leap-second correction.
uint64_t vl_tai_to_ntp(uint64_t ns);
