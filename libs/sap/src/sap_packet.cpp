#include "sap/sap_packet.h"

#include <arpa/inet.h>
#include <md5.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr uint8_t version_1 = 0x20;
constexpr uint8_t version_mask = 0xE0;
constexpr uint8_t address_type_bit = 0x10;
constexpr uint8_t deletion_bit = 0x04;
constexpr uint8_t encrypted_bit = 0x02;
constexpr uint8_t compressed_bit = 0x01;
constexpr std::size_t fixed_header = 4;
constexpr std::size_t ipv4_origin = 4;
constexpr std::size_t ipv6_origin = 16;
constexpr std::string_view sdp_start = "v=0";

bool starts_with(std::span<const uint8_t> bytes, std::string_view text) {
  return bytes.size() >= text.size() && std::memcmp(bytes.data(), text.data(), text.size()) == 0;
}

bool printable(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7F; });
}

// The NUL-terminated payload type at the start of `rest`.
VlSapParseResult read_payload_type(std::span<const uint8_t> rest, VlSapPacket* out) {
  const std::size_t window = std::min(rest.size(), vl_sap_payload_type_max + 1);
  const auto* nul = static_cast<const uint8_t*>(std::memchr(rest.data(), 0, window));
  if (!nul)
    return rest.size() > vl_sap_payload_type_max ? VlSapParseResult::payload_type_too_long
                                                  : VlSapParseResult::payload_type_unterminated;
  const auto length = static_cast<std::size_t>(nul - rest.data());
  const std::string_view type(reinterpret_cast<const char*>(rest.data()), length);
  if (type.empty() || !printable(type)) return VlSapParseResult::payload_type_invalid;
  out->payload_type = type;
  out->payload = rest.subspan(length + 1);
  return VlSapParseResult::ok;
}

}  // namespace

int vl_sap_packet_write(const VlSapMessage& message, std::span<uint8_t> out) {
  if (message.sdp.find('\0') != std::string_view::npos) {
    errno = EINVAL;
    return -1;
  }
  const std::size_t type_size = message.with_payload_type ? vl_sap_sdp_type.size() + 1 : 0;
  const std::size_t size = fixed_header + ipv4_origin + type_size + message.sdp.size();
  if (size > out.size() || size > vl_sap_max_datagram) {
    errno = ENOBUFS;
    return -1;
  }
  uint8_t* p = out.data();
  *p++ = static_cast<uint8_t>(version_1 | (message.deletion ? deletion_bit : 0));
  *p++ = 0;  // no authentication data
  *p++ = static_cast<uint8_t>(message.msg_id_hash >> 8);
  *p++ = static_cast<uint8_t>(message.msg_id_hash);
  std::memcpy(p, &message.origin, ipv4_origin);
  p += ipv4_origin;
  if (message.with_payload_type) {
    std::memcpy(p, vl_sap_sdp_type.data(), vl_sap_sdp_type.size());
    p += vl_sap_sdp_type.size();
    *p++ = 0;
  }
  if (!message.sdp.empty()) std::memcpy(p, message.sdp.data(), message.sdp.size());
  return static_cast<int>(size);
}

VlSapParseResult vl_sap_packet_parse(std::span<const uint8_t> datagram, VlSapPacket* out) {
  *out = VlSapPacket{};
  if (datagram.size() < fixed_header) return VlSapParseResult::too_short;
  const uint8_t flags = datagram[0];
  if ((flags & version_mask) != version_1) return VlSapParseResult::bad_version;
  out->ipv6 = flags & address_type_bit;
  out->deletion = flags & deletion_bit;
  out->encrypted = flags & encrypted_bit;
  out->compressed = flags & compressed_bit;
  out->msg_id_hash = static_cast<uint16_t>((datagram[2] << 8) | datagram[3]);

  const std::size_t origin_size = out->ipv6 ? ipv6_origin : ipv4_origin;
  if (datagram.size() < fixed_header + origin_size) return VlSapParseResult::too_short;
  std::memcpy(out->origin, &datagram[fixed_header], origin_size);

  const std::size_t auth_offset = fixed_header + origin_size;
  const std::size_t auth_size = std::size_t{datagram[1]} * 4;
  if (datagram.size() - auth_offset < auth_size) return VlSapParseResult::auth_overrun;
  out->auth = datagram.subspan(auth_offset, auth_size);

  const std::span<const uint8_t> rest = datagram.subspan(auth_offset + auth_size);
  if (out->encrypted || out->compressed || rest.empty() || starts_with(rest, sdp_start)) {
    out->payload = rest;
    return VlSapParseResult::ok;
  }
  return read_payload_type(rest, out);
}

const char* vl_sap_parse_result_text(VlSapParseResult result) {
  switch (result) {
    case VlSapParseResult::ok:
      return "ok";
    case VlSapParseResult::too_short:
      return "too short";
    case VlSapParseResult::bad_version:
      return "not SAP version 1";
    case VlSapParseResult::auth_overrun:
      return "authentication data runs past the packet";
    case VlSapParseResult::payload_type_unterminated:
      return "payload type not terminated";
    case VlSapParseResult::payload_type_too_long:
      return "payload type too long";
    case VlSapParseResult::payload_type_invalid:
      return "payload type invalid";
  }
  return "unknown";
}

std::string vl_sap_origin_text(const VlSapPacket& packet) {
  char text[INET6_ADDRSTRLEN] = "";
  inet_ntop(packet.ipv6 ? AF_INET6 : AF_INET, packet.origin, text, sizeof text);
  return text;
}

bool vl_sap_payload_is_sdp(const VlSapPacket& packet) {
  const std::string_view type = packet.payload_type;
  return type.empty() || (type.size() == vl_sap_sdp_type.size() &&
                          strncasecmp(type.data(), vl_sap_sdp_type.data(), type.size()) == 0);
}

uint16_t vl_sap_message_hash(uint32_t origin, std::string_view sdp) {
  MD5_CTX context;
  MD5Init(&context);
  MD5Update(&context, reinterpret_cast<const uint8_t*>(&origin), sizeof origin);
  MD5Update(&context, reinterpret_cast<const uint8_t*>(sdp.data()), sdp.size());
  uint8_t digest[MD5_DIGEST_LENGTH];
  MD5Final(digest, &context);
  uint16_t hash = 0;
  for (std::size_t i = 0; i < MD5_DIGEST_LENGTH; i += 2)
    hash ^= static_cast<uint16_t>((digest[i] << 8) | digest[i + 1]);
  return hash ? hash : 1;
}
