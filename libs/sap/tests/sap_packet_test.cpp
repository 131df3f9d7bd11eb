#include "sap/sap_packet.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const std::string sdp = "v=0\r\ns=x\r\n";
#define SDP_BYTES 'v', '=', '0', '\r', '\n', 's', '=', 'x', '\r', '\n'
#define SDP_TYPE_BYTES \
  'a', 'p', 'p', 'l', 'i', 'c', 'a', 't', 'i', 'o', 'n', '/', 's', 'd', 'p', 0x00
#define ORIGIN_BYTES 198, 18, 0, 1

uint32_t origin() {
  uint32_t address = 0;
  inet_pton(AF_INET, "198.18.0.1", &address);
  return address;
}

Bytes write(const VlSapMessage& message, std::size_t room = vl_sap_max_datagram) {
  Bytes out(room, 0xEE);
  const int size = vl_sap_packet_write(message, out);
  out.resize(size < 0 ? 0 : static_cast<std::size_t>(size));
  return out;
}

// Datagrams are parsed from exact-size copies (a copied vector has no spare
// capacity), so that the sanitizer sees any read past them.

std::string text(std::span<const uint8_t> bytes) { return {bytes.begin(), bytes.end()}; }

TEST(SapPacketWrite, GoldenPackets) {
  struct Case {
    const char* name;
    VlSapMessage message;
    Bytes expected;
  };
  const Case cases[] = {
      {"announcement", {false, 0x1234, origin(), true, sdp},
       {0x20, 0x00, 0x12, 0x34, ORIGIN_BYTES, SDP_TYPE_BYTES, SDP_BYTES}},
      {"deletion", {true, 0xBEEF, origin(), true, sdp},
       {0x24, 0x00, 0xBE, 0xEF, ORIGIN_BYTES, SDP_TYPE_BYTES, SDP_BYTES}},
      {"without payload type", {false, 0x0001, origin(), false, sdp}, {0x20, 0x00, 0x00, 0x01, ORIGIN_BYTES, SDP_BYTES}},
      {"deletion without payload", {true, 0x0002, origin(), false, ""}, {0x24, 0x00, 0x00, 0x02, ORIGIN_BYTES}},
  };
  for (const Case& c : cases) EXPECT_EQ(write(c.message), c.expected) << c.name;
}

TEST(SapPacketWrite, RefusesWhatDoesNotFitOrIsNoText) {
  const VlSapMessage message{false, 1, origin(), true, sdp};
  errno = 0;
  EXPECT_TRUE(write(message, 8 + 16 + sdp.size() - 1).empty());
  EXPECT_EQ(errno, ENOBUFS);
  const std::string huge(vl_sap_max_datagram, 'a');
  EXPECT_TRUE(write({false, 1, origin(), false, huge}, 2 * vl_sap_max_datagram).empty());
  EXPECT_EQ(errno, ENOBUFS);
  const std::string with_nul("v=0\0x", 5);
  EXPECT_TRUE(write({false, 1, origin(), true, with_nul}).empty());
  EXPECT_EQ(errno, EINVAL);
}

TEST(SapPacketParse, GoldenPackets) {
  struct Case {
    const char* name;
    Bytes datagram;
    bool ipv6, deletion, encrypted, compressed;
    uint16_t hash;
    std::string origin;
    std::size_t auth_size;
    std::string payload_type;
    std::string payload;
  };
  const Case cases[] = {
      {"announcement", {0x20, 0x00, 0x12, 0x34, ORIGIN_BYTES, SDP_TYPE_BYTES, SDP_BYTES},
       false, false, false, false, 0x1234, "198.18.0.1", 0, "application/sdp", sdp},
      {"deletion, reserved bit set", {0x2C, 0x00, 0xBE, 0xEF, ORIGIN_BYTES, SDP_TYPE_BYTES, SDP_BYTES},
       false, true, false, false, 0xBEEF, "198.18.0.1", 0, "application/sdp", sdp},
      {"no payload type", {0x20, 0x00, 0x00, 0x07, ORIGIN_BYTES, SDP_BYTES},
       false, false, false, false, 7, "198.18.0.1", 0, "", sdp},
      {"empty deletion", {0x24, 0x00, 0x00, 0x07, ORIGIN_BYTES}, false, true, false, false, 7, "198.18.0.1", 0, "", ""},
      {"authentication data", {0x20, 0x02, 0x00, 0x08, ORIGIN_BYTES, 1, 2, 3, 4, 5, 6, 7, 8, SDP_TYPE_BYTES, SDP_BYTES},
       false, false, false, false, 8, "198.18.0.1", 8, "application/sdp", sdp},
      {"IPv6 origin",
       {0x30, 0x00, 0x00, 0x09, 0xFF, 0x0E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0x7F, 0xFE, SDP_TYPE_BYTES, SDP_BYTES},
       true, false, false, false, 9, "ff0e::2:7ffe", 0, "application/sdp", sdp},
      {"other payload type", {0x20, 0x00, 0x00, 0x0A, ORIGIN_BYTES, 't', 'e', 'x', 't', '/', 'x', 0x00, 'h', 'i'},
       false, false, false, false, 10, "198.18.0.1", 0, "text/x", "hi"},
      {"compressed: payload opaque", {0x21, 0x00, 0x00, 0x0B, ORIGIN_BYTES, 0x78, 0x9C, 0x00, 0x01},
       false, false, false, true, 11, "198.18.0.1", 0, "", std::string("\x78\x9C\x00\x01", 4)},
      {"encrypted: payload opaque", {0x22, 0x00, 0x00, 0x0C, ORIGIN_BYTES, 0x00, 0x00, 0x00, 0x10, 0xAB},
       false, false, true, false, 12, "198.18.0.1", 0, "", std::string("\x00\x00\x00\x10\xAB", 5)},
  };
  for (const Case& c : cases) {
    const Bytes exact(c.datagram);
    VlSapPacket p;
    ASSERT_EQ(vl_sap_packet_parse(exact, &p), VlSapParseResult::ok) << c.name;
    EXPECT_EQ(p.ipv6, c.ipv6) << c.name;
    EXPECT_EQ(p.deletion, c.deletion) << c.name;
    EXPECT_EQ(p.encrypted, c.encrypted) << c.name;
    EXPECT_EQ(p.compressed, c.compressed) << c.name;
    EXPECT_EQ(p.msg_id_hash, c.hash) << c.name;
    EXPECT_EQ(vl_sap_origin_text(p), c.origin) << c.name;
    EXPECT_EQ(p.auth.size(), c.auth_size) << c.name;
    EXPECT_EQ(p.payload_type, c.payload_type) << c.name;
    EXPECT_EQ(text(p.payload), c.payload) << c.name;
  }
}

TEST(SapPacketParse, MalformedAndHostilePackets) {
  struct Case {
    const char* name;
    Bytes datagram;
    VlSapParseResult expected;
  };
  const Bytes long_type = [] {
    Bytes b{0x20, 0x00, 0x00, 0x01, ORIGIN_BYTES};
    b.insert(b.end(), vl_sap_payload_type_max + 1, 'a');
    b.push_back(0);
    return b;
  }();
  const Case cases[] = {
      {"empty", {}, VlSapParseResult::too_short},
      {"three bytes", {0x20, 0x00, 0x00}, VlSapParseResult::too_short},
      {"IPv4 origin cut", {0x20, 0x00, 0x00, 0x01, 198, 18}, VlSapParseResult::too_short},
      {"IPv6 origin cut", {0x30, 0x00, 0x00, 0x01, ORIGIN_BYTES, 0, 0, 0, 0}, VlSapParseResult::too_short},
      {"version 0", {0x00, 0x00, 0x00, 0x01, ORIGIN_BYTES, SDP_BYTES}, VlSapParseResult::bad_version},
      {"version 2", {0x40, 0x00, 0x00, 0x01, ORIGIN_BYTES, SDP_BYTES}, VlSapParseResult::bad_version},
      {"auth length 255 in a short packet", {0x20, 0xFF, 0x00, 0x01, ORIGIN_BYTES, 1, 2, 3, 4},
       VlSapParseResult::auth_overrun},
      {"auth one byte short", {0x20, 0x01, 0x00, 0x01, ORIGIN_BYTES, 1, 2, 3}, VlSapParseResult::auth_overrun},
      {"payload type without NUL", {0x20, 0x00, 0x00, 0x01, ORIGIN_BYTES, 'a', 'p', 'p'},
       VlSapParseResult::payload_type_unterminated},
      {"payload type too long", long_type, VlSapParseResult::payload_type_too_long},
      {"empty payload type", {0x20, 0x00, 0x00, 0x01, ORIGIN_BYTES, 0x00, SDP_BYTES},
       VlSapParseResult::payload_type_invalid},
      {"payload type with a control byte", {0x20, 0x00, 0x00, 0x01, ORIGIN_BYTES, 'a', 0x01, 0x00, SDP_BYTES},
       VlSapParseResult::payload_type_invalid},
  };
  for (const Case& c : cases) {
    const Bytes exact(c.datagram);
    VlSapPacket p;
    EXPECT_EQ(vl_sap_packet_parse(exact, &p), c.expected) << c.name;
  }
}

TEST(SapPacket, WrittenPacketParsesBack) {
  const Bytes bytes = write({true, 0x4242, origin(), true, sdp});
  VlSapPacket p;
  ASSERT_EQ(vl_sap_packet_parse(bytes, &p), VlSapParseResult::ok);
  EXPECT_TRUE(p.deletion);
  EXPECT_EQ(p.msg_id_hash, 0x4242);
  EXPECT_TRUE(vl_sap_payload_is_sdp(p));
  EXPECT_EQ(text(p.payload), sdp);
}

TEST(SapPacket, PayloadIsSdpByTypeInAnyCase) {
  VlSapPacket p;
  EXPECT_TRUE(vl_sap_payload_is_sdp(p));
  p.payload_type = "Application/SDP";
  EXPECT_TRUE(vl_sap_payload_is_sdp(p));
  p.payload_type = "application/sdpx";
  EXPECT_FALSE(vl_sap_payload_is_sdp(p));
}

TEST(SapPacket, MessageHashIsStableAndFollowsTheDescription) {
  const uint16_t hash = vl_sap_message_hash(origin(), sdp);
  EXPECT_NE(hash, 0);
  EXPECT_EQ(vl_sap_message_hash(origin(), sdp), hash);
  EXPECT_NE(vl_sap_message_hash(origin(), sdp + "a=x\r\n"), hash);
  EXPECT_NE(vl_sap_message_hash(origin() + 1, sdp), hash);
}

}  // namespace
