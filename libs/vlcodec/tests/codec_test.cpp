#include "vlcodec/codec.h"
#include "vlcodec/dec_am824.h"
#include "vlcodec/dec_l16.h"
#include "vlcodec/dec_l24.h"
#include "vlcodec/dec_raw.h"
#include "vlcodec/enc_l24.h"
#include "vlcodec/vl_dec.h"
#include "vlcodec/vl_enc.h"

#include "codec_test_support.h"
#include "vltest/log_capture.h"
#include "vltest/ring_driver.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

struct Decoded {
  int result;
  vl_rational timescale;
  uint32_t channels;
};

Decoded decode(uint8_t type, const char* encoding) {
  Decoded d{};
  d.result = vl_codec_mime_decode(type, encoding, &d.timescale, &d.channels);
  return d;
}

TEST(MimeDecode, DynamicTypes) {
  Decoded d = decode(98, "L24/48000/8");
  EXPECT_EQ(d.result, 3);
  EXPECT_EQ(d.timescale.nom, 48000);
  EXPECT_EQ(d.timescale.den, 1);
  EXPECT_EQ(d.channels, 8u);
  d = decode(96, "L16/48000");
  EXPECT_EQ(d.result, 3);
  EXPECT_EQ(d.timescale.nom, 48000);
  EXPECT_EQ(d.channels, 1u);  // an omitted count is one channel
  d = decode(127, "AM824");
  EXPECT_EQ(d.result, 5);
  EXPECT_EQ(d.timescale.den, 0);
  d = decode(100, "L24/x/2");
  EXPECT_EQ(d.timescale.nom, 0);
  EXPECT_EQ(d.timescale.den, 1);
  EXPECT_EQ(d.channels, 0u);  // the rate did not end with '/'
}

TEST(MimeDecode, StaticAndOutOfRangeTypes) {
  Decoded d = decode(10, "whatever");
  EXPECT_EQ(d.result, 0);
  EXPECT_EQ(d.timescale.nom, 44100);
  EXPECT_EQ(d.channels, 2u);
  d = decode(11, nullptr);
  EXPECT_EQ(d.result, 0);
  EXPECT_EQ(d.channels, 1u);
  d = decode(0, "L16/48000/2");
  EXPECT_EQ(d.result, -1);
  EXPECT_EQ(d.timescale.den, 0);
  errno = 0;
  d = decode(200, "L24/48000/2");
  EXPECT_EQ(d.result, -1);
  EXPECT_EQ(errno, EINVAL);
}

TEST(MimeDecode, HostileNumbersDoNotOverflow) {
  Decoded d = decode(98, "L24/99999999999999999999/4294967296");
  EXPECT_EQ(d.timescale.nom, 0);
  EXPECT_EQ(d.channels, 0u);
  d = decode(98, "L24/-48000/2");
  EXPECT_EQ(d.timescale.nom, 0);
  d = decode(98, "L24/3000000000/2");  // beyond a signed rate
  EXPECT_EQ(d.timescale.nom, 0);
}

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    vl_encoders_init();
    vl_decoders_init();
  }
  void TearDown() override {
    vl_encoders_done();
    vl_decoders_done();
  }
};

std::vector<std::string> mimes(int (*foreach)(void*, vl_codec_mime_fn)) {
  std::vector<std::string> seen;
  foreach(&seen, [](void* arg, const char* mime) {
    static_cast<std::vector<std::string>*>(arg)->push_back(mime);
    return 1;
  });
  return seen;
}

TEST_F(Registry, LookupOrderIsL16L24Am824L32) {
  const std::vector<std::string> expected = {"L16", "L24", "AM824", "L32"};
  EXPECT_EQ(mimes(vl_enc_foreach_mime), expected);
  EXPECT_EQ(mimes(vl_dec_foreach_mime), expected);
}

TEST_F(Registry, FindMatchesTheMimePrefixWhateverItsCase) {
  vltest::LogCapture capture;
  EXPECT_EQ(vl_enc_find("L24/48000/8"), vl_enc_l24_ts.make);
  EXPECT_EQ(vl_dec_find("AM824/48000/2"), vl_dec_am824_ts.make);
  EXPECT_EQ(vl_dec_find("L32/48000/2"), vl_dec_raw_ts.make);
  EXPECT_EQ(vl_enc_find("L2"), nullptr);
  EXPECT_EQ(vl_enc_find("l24/48000/2"), vl_enc_l24_ts.make);
  EXPECT_EQ(vl_dec_find("am824/48000/2"), vl_dec_am824_ts.make);
  EXPECT_EQ(capture.count("Invalid encoder: L2"), 1);
  EXPECT_EQ(vl_dec_find("L8/8000/1"), nullptr);
  EXPECT_EQ(capture.count("Invalid decoder: L8/8000/1"), 1);
}

TEST_F(Registry, EmptyAfterDone) {
  vl_encoders_done();
  EXPECT_EQ(vl_enc_foreach_mime(nullptr, [](void*, const char*) { return 1; }), 0);
  vl_encoders_init();
}

TEST(DecoderMatch, ComparesTheFormatName) {
  EXPECT_EQ(vl_dec_l16_match("L16/48000/2"), vl_dec_l16_ts.make);
  EXPECT_EQ(vl_dec_l24_match("L24"), vl_dec_l24_ts.make);
  EXPECT_EQ(vl_dec_raw_match("L32/96000/1"), vl_dec_raw_ts.make);
  EXPECT_EQ(vl_dec_am824_match("AM82"), nullptr);
  EXPECT_EQ(vl_dec_l24_match("L16/48000/2"), nullptr);
}

TEST(CodecConstruction, EncoderNeedsRateChannelsAndName) {
  vltest::LogCapture capture;
  vl_encoders_init();
  vltest::RingDriver driver;
  VlCaptureIfc* capture_ifc = driver.get_capture_ifc();
  errno = 0;
  EXPECT_EQ(vl_enc_l24_ctor(capture_ifc, codec_test::sdp("L24/48000/0")), nullptr);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(capture.count("vl_enc_l24_ctor: vl_codec_mime_decode delivered channels = 0!"), 1);
  EXPECT_EQ(vl_enc_l24_ctor(capture_ifc, codec_test::sdp("L24")), nullptr);
  EXPECT_EQ(capture.count("vl_enc_l24_ctor: timescale denominator = 0!"), 1);
  const VlSdpStream nameless = codec_test::sdp("L24/48000/2", 98, std::string(200, 'n'));
  EXPECT_EQ(vl_enc_l24_ctor(capture_ifc, nameless), nullptr);
  EXPECT_EQ(capture.count("vl_enc_l24_ctor: could not decode associated stream name from SDP!"), 1);
  EXPECT_EQ(vl_enc_l24_ctor(capture_ifc, codec_test::sdp("L24/48000/100000")), nullptr);
  EXPECT_EQ(capture.count("channels exceed the limit"), 1);
  EXPECT_EQ(vl_enc_l24_ctor(capture_ifc, codec_test::parsed("v=0\n")), nullptr);  // no rtpmap

  VlEnc* enc = vl_enc_l24_ctor(capture_ifc, codec_test::sdp("L24/48000/8"));
  ASSERT_NE(enc, nullptr);
  EXPECT_STREQ(enc->type().type_name, "VlEncL24");
  EXPECT_EQ(vl_enc_channels(enc), 8u);
  EXPECT_EQ(vl_enc_timescale(enc).nom, 48000);
  VlChannelMap* map = vl_enc_get_map(enc);
  ASSERT_NE(map, nullptr);
  ASSERT_EQ(map->count(), 8u);
  for (uint64_t i = 0; i < 8; ++i) EXPECT_EQ(map->entries()[i], -1);
  vl_channel_map_dtor(map);
  vl_object_delete(enc);
  vl_encoders_done();
}

TEST(CodecConstruction, CodecsRefuseAnotherRate) {
  vltest::LogCapture capture;
  vl_encoders_init();  // their log category
  vltest::RingDriver driver;  // 48 kHz
  errno = 0;
  EXPECT_EQ(vl_enc_l24_ctor(driver.get_capture_ifc(), codec_test::sdp("L24/44100/2")), nullptr);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(capture.count("the SDP's rate 44100/1 differs from the audio device's rate 48000/1"), 1);
  errno = 0;
  EXPECT_EQ(vl_dec_l24_ctor(driver.get_play_ifc(), codec_test::sdp("L24/44100/2")), nullptr);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(vl_dec_l24_ctor(driver.get_play_ifc(), codec_test::sdp("L24/48000/0")), nullptr);
  VlDec* dec = vl_dec_l24_ctor(driver.get_play_ifc(), codec_test::sdp("L24/48000/2"));
  ASSERT_NE(dec, nullptr);
  EXPECT_STREQ(dec->type().type_name, "VlDecL24");
  vl_object_delete(dec);
  vl_encoders_done();
}

}  // namespace
