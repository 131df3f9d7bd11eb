// SAP packets (RFC 2974): the announcement and deletion messages that carry
// a stream's SDP record to a multicast group. Stateless: the writer fills a
// caller buffer, the parser reads one received datagram and never looks
// past it.
//
//    0                   1                   2                   3
//   | V=1 |A|R|T|E|C|   auth len    |         msg id hash           |
//   |          originating source (4 bytes, 16 with A set)          |
//   |          authentication data (auth len 32-bit words)          |
//   |          payload type, NUL-terminated (may be omitted)        |
//   |          payload (the SDP text)                               |
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

inline constexpr uint16_t vl_sap_port = 9875;
// Where AES67 devices announce, and RFC 2974's global-scope address that
// other tools use by default.
inline constexpr const char* vl_sap_group_aes67 = "239.255.255.255";
inline constexpr const char* vl_sap_group_global = "224.2.127.254";

// Largest datagram written or accepted; RFC 2974 asks for 1 kB, real
// announcements rarely pass 1.5 kB.
inline constexpr std::size_t vl_sap_max_datagram = 4096;
// Longest payload type string accepted, without its NUL.
inline constexpr std::size_t vl_sap_payload_type_max = 64;
inline constexpr std::string_view vl_sap_sdp_type = "application/sdp";

// What the writer puts into one packet.
struct VlSapMessage {
  bool deletion = false;
  uint16_t msg_id_hash = 0;
  uint32_t origin = 0;  // IPv4 address of the announcer, network byte order
  bool with_payload_type = true;  // "application/sdp"; RFC 2974 lets it be left out
  std::string_view sdp;           // may be empty in a deletion
};

// Writes the packet into `out`. Returns its size; -1 with errno ENOBUFS
// when it does not fit `out` or vl_sap_max_datagram, EINVAL when the SDP
// holds a NUL byte (receivers read it as a C string).
int vl_sap_packet_write(const VlSapMessage& message, std::span<uint8_t> out);

enum class VlSapParseResult {
  ok = 0,
  too_short,                  // no room for the header and origin
  bad_version,                // not version 1
  auth_overrun,               // authentication data runs past the datagram
  payload_type_unterminated,  // no NUL before the datagram ends
  payload_type_too_long,      // no NUL within vl_sap_payload_type_max
  payload_type_invalid,       // empty or not printable ASCII
};

// One parsed datagram; the views point into it.
struct VlSapPacket {
  bool ipv6 = false;  // origin is 16 bytes
  bool deletion = false;
  bool encrypted = false;
  bool compressed = false;
  uint16_t msg_id_hash = 0;
  uint8_t origin[16] = {};  // IPv4 in the first 4 bytes
  std::span<const uint8_t> auth;
  // Empty when the sender left it out. Not read from encrypted or
  // compressed packets, whose whole payload is opaque.
  std::string_view payload_type;
  std::span<const uint8_t> payload;
};

// Parses one datagram. A payload without a type must begin with "v=0" to
// be taken as one. Reserved bit R is ignored, as RFC 2974 asks.
VlSapParseResult vl_sap_packet_parse(std::span<const uint8_t> datagram, VlSapPacket* out);
const char* vl_sap_parse_result_text(VlSapParseResult result);

// The origin as dotted IPv4 or IPv6 text.
std::string vl_sap_origin_text(const VlSapPacket& packet);

// True when the payload is an SDP record: type "application/sdp" (any case)
// or none.
bool vl_sap_payload_is_sdp(const VlSapPacket& packet);

// Message id hash of an announcer's SDP: from the origin and the SDP text,
// which holds the session's address and port. The same description keeps
// its hash across restarts; a changed one gets a new hash, as RFC 2974
// requires. Never 0 (old listeners read 0 as "no hash").
uint16_t vl_sap_message_hash(uint32_t origin, std::string_view sdp);
