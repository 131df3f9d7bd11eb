// The stateless RTP header parser over golden datagrams.
#include "rtp_sw/vl_rtp_packet.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// A fixed header (seq 0x1234, ts 0x89ABCDEF, ssrc 0xCAFEF00D) with `first`
// and payload type 98, then `rest`.
Bytes datagram(uint8_t first, const Bytes& rest) {
  Bytes d = {first, 0xE2, 0x12, 0x34, 0x89, 0xAB, 0xCD, 0xEF, 0xCA, 0xFE, 0xF0, 0x0D};
  for (const uint8_t byte : rest) d.push_back(byte);
  return d;
}

TEST(RtpParse, GoldenDatagrams) {
  struct Case {
    const char* what;
    Bytes bytes;
    int error;
    uint32_t header_length;
    uint32_t payload_length;
  };
  const Case cases[] = {
      {"plain", datagram(0x80, {1, 2, 3}), 0, 12, 3},
      {"two CSRCs", datagram(0x82, {0xC, 0xC, 0xC, 0xC, 0xD, 0xD, 0xD, 0xD, 1}), 0, 20, 1},
      {"extension of 2 words", datagram(0x90, {0xBE, 0xDE, 0, 2, 9, 9, 9, 9, 9, 9, 9, 9, 1, 2}), 0, 24, 2},
      {"CSRC and extension", datagram(0x91, {0xC, 0xC, 0xC, 0xC, 0xBE, 0xDE, 0, 0, 7}), 0, 20, 1},
      {"padding of 3", datagram(0xA0, {1, 2, 0, 0, 3}), 0, 12, 2},
      {"runt", Bytes{0x80, 0x62, 0, 1}, vl_rtp_error_size, 0, 0},
      {"header only", datagram(0x80, {}), vl_rtp_error_size, 0, 0},
      {"version 0", datagram(0x00, {1, 2, 3}), vl_rtp_error_header, 0, 0},
      {"version 0 with padding", datagram(0x20, {1, 2, 3}), vl_rtp_error_header, 0, 0},
      {"version 1", datagram(0x40, {1, 2, 3}), vl_rtp_error_header, 0, 0},
      {"version 3", datagram(0xC0, {1, 2, 3}), vl_rtp_error_header, 0, 0},
      {"CSRC list past the end", datagram(0x8F, {1, 2, 3}), vl_rtp_error_size, 0, 0},
      {"extension header cut", datagram(0x90, {0xBE, 0xDE, 0}), vl_rtp_error_header, 0, 0},
      {"extension past the end", datagram(0x90, {0xBE, 0xDE, 0xFF, 0xFF, 1, 2, 3, 4}), vl_rtp_error_size, 0, 0},
      {"extension leaves no payload", datagram(0x90, {0xBE, 0xDE, 0, 1, 1, 2, 3, 4}), vl_rtp_error_size, 0, 0},
      {"padding eats the payload", datagram(0xA0, {1, 2, 3}), vl_rtp_error_size, 0, 0},
      {"padding count 0", datagram(0xA0, {1, 2, 0}), vl_rtp_error_size, 0, 0},
  };
  for (const Case& c : cases) {
    VlRtpHeader header{};
    EXPECT_EQ(vl_rtp_parse(c.bytes.data(), c.bytes.size(), &header), c.error) << c.what;
    if (c.error != 0) continue;
    EXPECT_EQ(header.header_length, c.header_length) << c.what;
    EXPECT_EQ(header.payload_length, c.payload_length) << c.what;
    EXPECT_EQ(header.layout, c.bytes[0] & 0xDF) << c.what;
    EXPECT_EQ(header.payload_type, 98) << c.what;
    EXPECT_EQ(header.seqno, 0x1234) << c.what;
    EXPECT_EQ(header.timestamp, 0x89ABCDEFu) << c.what;
    EXPECT_EQ(header.ssrc, 0xCAFEF00Du) << c.what;
  }
}

}  // namespace
