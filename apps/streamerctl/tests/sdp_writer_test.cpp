#include "sdp_writer.h"

#include "vlutil/vl_sdp.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

SdpOptions options() {
  SdpOptions o;
  o.source = "198.18.0.1";
  o.destination = "239.1.2.3";
  o.port = 5006;
  o.channels = 8;
  o.frames = 12;
  o.sync_time = 77;
  o.clock_domain = 3;
  return o;
}

// What the daemon reads from a written record is what was asked for.
TEST(SdpWriter, TheDaemonsReaderFindsEveryValue) {
  const std::string sdp = sdp_write(options());
  char address[vl_sdp_addr_size] = {};
  EXPECT_EQ(vl_sdp_dst_addr(sdp.c_str(), address), 32);
  EXPECT_STREQ(address, "239.1.2.3");
  EXPECT_EQ(vl_sdp_src_addr(sdp.c_str(), address), 0);
  EXPECT_STREQ(address, "198.18.0.1");
  EXPECT_EQ(vl_sdp_dst_port(sdp.c_str()), 5006);
  char encoding[vl_sdp_encoding_max] = {};
  ASSERT_EQ(vl_sdp_encoding(sdp.c_str(), encoding, sizeof encoding), 0);
  EXPECT_STREQ(encoding, "L24/48000/8");
  EXPECT_EQ(vl_sdp_frame_count(sdp.c_str()), 12);
  uint32_t sync = 0;
  ASSERT_EQ(vl_sdp_sync_time(sdp.c_str(), &sync), 0);
  EXPECT_EQ(sync, 77u);
  char domain[64] = {};
  ASSERT_EQ(vl_sdp_clock_domain(sdp.c_str(), domain, sizeof domain), 0);
  EXPECT_STREQ(domain, "PTPv2 3");
  EXPECT_NE(sdp.find("a=ptime:0.25\n"), std::string::npos);
  EXPECT_EQ(sdp_frame_count(sdp), 12u);
}

TEST(SdpWriter, UnicastHasNeitherTtlNorSourceFilter) {
  SdpOptions o = options();
  o.destination = "198.18.0.2";
  const std::string sdp = sdp_write(o);
  EXPECT_NE(sdp.find("c=IN IP4 198.18.0.2\n"), std::string::npos);
  EXPECT_EQ(sdp.find("source-filter"), std::string::npos);
}

TEST(SdpWriter, ImpossibleOptionsAreNamed) {
  const struct {
    void (*change)(SdpOptions&);
    const char* problem;
  } cases[] = {
      {[](SdpOptions& o) { o.source = "host"; }, "the source address 'host' is no IPv4 address"},
      {[](SdpOptions& o) { o.encoding = "MP3"; }, "the encoding must be one of L16, L24, L32 and AM824"},
      {[](SdpOptions& o) { o.frames = 5; }, "a packet needs at least 6 frames"},
      {[](SdpOptions& o) { o.frames = 6; }, ""},  // 125 us at 48 kHz
      {[](SdpOptions& o) { o.payload_type = 10; }, "the payload type must be dynamic (96 to 127)"},
  };
  EXPECT_EQ(sdp_check(options()), "");
  for (const auto& c : cases) {
    SdpOptions o = options();
    c.change(o);
    EXPECT_EQ(sdp_check(o), c.problem);
  }
}

TEST(SdpWriter, FrameCountsOfRecordsAndPacketTimes) {
  EXPECT_EQ(sdp_frames_for_ptime(1, 48000), 48u);
  EXPECT_EQ(sdp_frames_for_ptime(0.125, 48000), 6u);
  EXPECT_EQ(sdp_frames_for_ptime(0.3, 44100), 0u);  // 13.23 frames
  const std::string aes67 = "v=0\nm=audio 5004 RTP/AVP 98\na=rtpmap:98 L24/48000/2\na=ptime:1\n";
  EXPECT_EQ(sdp_frame_count(aes67), 48u);
  EXPECT_EQ(sdp_frame_count("v=0\nm=audio 5004 RTP/AVP 98\na=rtpmap:98 L24/48000/2\n"), 0u);
}

}  // namespace
