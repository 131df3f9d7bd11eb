#include "sap/sap_entry.h"

#include "vlutil/vl_json_ref.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char* const aes67_sdp =
    "v=0\r\n"
    "o=- 1311738121 1311738122 IN IP4 192.168.1.10\r\n"
    "s=Stage box 1\r\n"
    "c=IN IP4 239.9.9.9/16\r\n"
    "t=0 0\r\n"
    "a=ts-refclk:ptp=IEEE1588-2008:00-1D-C1-FF-FE-12-34-56:0\r\n"
    "m=audio 5004 RTP/AVP 98\r\n"
    "c=IN IP4 239.1.2.3/32\r\n"
    "a=rtpmap:98 L24/48000/8\r\n"
    "a=ptime:0.125\r\n"
    "a=mediaclk:direct=0\r\n";

// What an ffmpeg muxer writes: the connection at session level, no ptime.
const char* const ffmpeg_sdp =
    "v=0\n"
    "o=- 0 0 IN IP4 127.0.0.1\n"
    "s=No Name\n"
    "c=IN IP4 239.1.2.4/1\n"
    "t=0 0\n"
    "a=tool:libavformat\n"
    "m=audio 5006 RTP/AVP 97\n"
    "a=rtpmap:97 L16/48000\n";

const char* const velanto_sdp =
    "v=0\n"
    "o=- 1 1 IN IP4 198.18.0.1\n"
    "s=Lab\n"
    "a=clock-domain:PTPv2 0\n"
    "m=audio 70000/2 RTP/AVP 98\n"
    "c=IN IP4 239.1.2.5\n"
    "a=rtpmap:98 L32/48000/x\n"
    "a=ptime:fast\n";

TEST(SapSdpFields, ReadsWhatTheDirectoryLists) {
  struct Case {
    const char* name;
    const char* sdp;
    VlSapSdpFields expected;
  };
  const Case cases[] = {
      {"AES67", aes67_sdp,
       {"192.168.1.10", "Stage box 1", "239.1.2.3", 5004, "L24/48000/8", 8, 0.125,
        "ptp=IEEE1588-2008:00-1D-C1-FF-FE-12-34-56:0"}},
      {"ffmpeg", ffmpeg_sdp, {"127.0.0.1", "No Name", "239.1.2.4", 5006, "L16/48000", 1, 0.0, ""}},
      {"velanto, bad port, channels and ptime", velanto_sdp,
       {"198.18.0.1", "Lab", "239.1.2.5", 0, "L32/48000/x", 0, 0.0, "PTPv2 0"}},
      {"nothing", "v=0\n", {}},
      {"truncated lines", "v=0\no=-\ns=\nm=audio\nc=IN\na=rtpmap:", {}},
  };
  for (const Case& c : cases) {
    const VlSapSdpFields f = vl_sap_sdp_fields(c.sdp);
    const VlSapSdpFields& e = c.expected;
    EXPECT_EQ(f.sdp_origin, e.sdp_origin) << c.name;
    EXPECT_EQ(f.session_name, e.session_name) << c.name;
    EXPECT_EQ(f.group, e.group) << c.name;
    EXPECT_EQ(f.port, e.port) << c.name;
    EXPECT_EQ(f.encoding, e.encoding) << c.name;
    EXPECT_EQ(f.channels, e.channels) << c.name;
    EXPECT_DOUBLE_EQ(f.ptime, e.ptime) << c.name;
    EXPECT_EQ(f.clock_reference, e.clock_reference) << c.name;
  }
}

TEST(SapEntry, EncodesEveryKey) {
  VlSapEntry entry{"198.18.0.1", 0xBEEF, "veth1", "239.255.255.255", vl_sap_sdp_fields(aes67_sdp),
                   1700000000123456789ULL, aes67_sdp};
  VlJsonRef list(vl_sap_entry_list_encode({entry}));
  ASSERT_TRUE(list);
  ASSERT_EQ(json_array_size(list.get()), 1U);
  json_t* o = json_array_get(list.get(), 0);
  EXPECT_EQ(json_object_size(o), 14U);
  EXPECT_STREQ(json_string_value(json_object_get(o, "sap_origin")), "198.18.0.1");
  EXPECT_EQ(json_integer_value(json_object_get(o, "sap_msg_id_hash")), 0xBEEF);
  EXPECT_STREQ(json_string_value(json_object_get(o, "sap_interface")), "veth1");
  EXPECT_STREQ(json_string_value(json_object_get(o, "sap_announce_group")), "239.255.255.255");
  EXPECT_STREQ(json_string_value(json_object_get(o, "sap_sdp_origin")), "192.168.1.10");
  EXPECT_STREQ(json_string_value(json_object_get(o, "sap_session_name")), "Stage box 1");
  EXPECT_STREQ(json_string_value(json_object_get(o, "sap_group")), "239.1.2.3");
  EXPECT_EQ(json_integer_value(json_object_get(o, "sap_port")), 5004);
  EXPECT_STREQ(json_string_value(json_object_get(o, "sap_encoding")), "L24/48000/8");
  EXPECT_EQ(json_integer_value(json_object_get(o, "sap_channels")), 8);
  EXPECT_DOUBLE_EQ(json_real_value(json_object_get(o, "sap_ptime")), 0.125);
  EXPECT_STREQ(json_string_value(json_object_get(o, "sap_clock_reference")),
               "ptp=IEEE1588-2008:00-1D-C1-FF-FE-12-34-56:0");
  EXPECT_EQ(json_integer_value(json_object_get(o, "sap_last_seen")), 1700000000123456789LL);
  EXPECT_STREQ(json_string_value(json_object_get(o, "sap_sdp")), aes67_sdp);
}

TEST(SapEntry, TextThatIsNotUtf8IsNotEncoded) {
  VlSapEntry entry;
  entry.sdp = "v=0\ns=\xFF\n";
  EXPECT_EQ(vl_sap_entry_encode(entry), nullptr);
  EXPECT_EQ(vl_sap_entry_list_encode({entry}), nullptr);
}

}  // namespace
