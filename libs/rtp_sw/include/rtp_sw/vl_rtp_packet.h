// The RTP fixed header (RFC 3550) as the software engine writes and reads
// it: no CSRC list, no extension, no padding on the way out; CSRC lists,
// extensions and padding are understood on the way in.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t vl_rtp_header_size = 12;
inline constexpr uint8_t vl_rtp_version_2 = 0x80;
inline constexpr uint8_t vl_rtp_version_mask = 0xC0;
inline constexpr uint8_t vl_rtp_padding_bit = 0x20;
inline constexpr uint8_t vl_rtp_extension_bit = 0x10;
inline constexpr uint8_t vl_rtp_csrc_count_mask = 0x0F;
inline constexpr uint8_t vl_rtp_payload_type_mask = 0x7F;

inline uint16_t vl_rtp_get16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

inline uint32_t vl_rtp_get32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

inline void vl_rtp_put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

inline void vl_rtp_put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

inline uint16_t vl_rtp_seqno(const uint8_t* packet) { return vl_rtp_get16(packet + 2); }
inline uint32_t vl_rtp_timestamp(const uint8_t* packet) { return vl_rtp_get32(packet + 4); }
inline uint32_t vl_rtp_ssrc(const uint8_t* packet) { return vl_rtp_get32(packet + 8); }

// Parse error bits, as the receiver reports them.
inline constexpr int vl_rtp_error_size = 1;
inline constexpr int vl_rtp_error_header = 2;
inline constexpr int vl_rtp_error_seqno = 8;
inline constexpr int vl_rtp_error_payload = 16;

// One datagram's header, read without any state of the stream.
struct VlRtpHeader {
  uint8_t layout;  // the first byte without the padding bit: version, extension, CSRC count
  uint8_t payload_type;
  uint16_t seqno;
  uint32_t timestamp;
  uint32_t ssrc;
  uint32_t header_length;   // fixed header, CSRC list and extension
  uint32_t payload_length;  // without the padding
};

// Checks a whole datagram of `n` bytes (version, CSRC list, extension,
// padding against the size) and reads its header; 0, or vl_rtp_error_size or
// vl_rtp_error_header. A datagram must carry at least one payload byte.
int vl_rtp_parse(const uint8_t* datagram, std::size_t n, VlRtpHeader* out);
