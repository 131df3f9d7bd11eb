// Wire forms, channel maps and windows of the linear PCM formats, through
// a ring driver.
#include "vlcodec/dec_am824.h"
#include "vlcodec/dec_l16.h"
#include "vlcodec/dec_l24.h"
#include "vlcodec/dec_raw.h"
#include "vlcodec/enc_am824.h"
#include "vlcodec/enc_l16.h"
#include "vlcodec/enc_l24.h"
#include "vlcodec/enc_raw.h"

#include "codec_test_support.h"
#include "vltest/ring_driver.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct ObjectDeleter {
  void operator()(VlObject* obj) const { vl_object_delete(obj); }
};

vltest::RingDriver::Config ring(uint32_t capture_channels, uint32_t play_channels, uint32_t frames = 8192) {
  vltest::RingDriver::Config config;
  config.capture_channels = capture_channels;
  config.play_channels = play_channels;
  config.buffer_frames = frames;
  return config;
}

void set_map(VlEnc* enc, std::vector<int32_t> entries) {
  VlChannelMapPtr map(vl_channel_map_ctor(entries.data(), entries.size()));
  ASSERT_EQ(vl_enc_set_map(enc, map.get()), 0);
}

void set_map(VlDec* dec, std::vector<int32_t> entries) {
  VlChannelMapPtr map(vl_channel_map_ctor(entries.data(), entries.size()));
  ASSERT_EQ(vl_dec_set_map(dec, map.get()), 0);
}

// An encoder over a capture ring whose samples the test writes.
class EncoderRig {
 public:
  EncoderRig(VlEnc* (*ctor)(VlCaptureIfc*, const VlSdpStream&), const std::string& encoding, uint32_t ring_channels,
             uint32_t ring_frames = 8192)
      : driver_(ring(ring_channels, 0, ring_frames)) {
    enc_.reset(ctor(driver_.get_capture_ifc(), codec_test::sdp(encoding)));
  }
  VlEnc* enc() { return enc_.get(); }
  vltest::RingDriver& driver() { return driver_; }
  void put(uint32_t ts, uint32_t channel, uint32_t word) {
    driver_.fill_capture(ts, 1, [&](uint32_t, uint32_t c) {
      return c == channel ? static_cast<int32_t>(word) : driver_.capture_sample(ts, c);
    });
  }
  // Encodes `frames` frames from ts; C is moved past them unless told otherwise.
  Bytes encode(uint32_t ts, uint64_t frames, uint64_t* returned = nullptr, uint64_t capacity = 4096) {
    Bytes out(capacity, 0xEE);
    uint64_t size = capacity;
    const uint64_t done = vl_enc_process(enc(), frames, ts, out.data(), &size);
    if (returned) *returned = done;
    out.resize(done ? size : 0);
    return out;
  }

 private:
  vltest::RingDriver driver_;
  std::unique_ptr<VlEnc, ObjectDeleter> enc_;
};

class DecoderRig {
 public:
  DecoderRig(VlDec* (*ctor)(VlPlayIfc*, const VlSdpStream&), const std::string& encoding, uint32_t ring_channels)
      : driver_(ring(0, ring_channels)) {
    dec_.reset(ctor(driver_.get_play_ifc(), codec_test::sdp(encoding)));
  }
  VlDec* dec() { return dec_.get(); }
  vltest::RingDriver& driver() { return driver_; }
  int32_t decode(uint32_t ts, const Bytes& payload) {
    return vl_dec_process(dec(), ts, payload.data(), static_cast<int32_t>(payload.size()));
  }
  uint32_t played(uint32_t ts, uint32_t channel) {
    return static_cast<uint32_t>(driver_.played_sample(ts, channel));
  }

 private:
  vltest::RingDriver driver_;
  std::unique_ptr<VlDec, ObjectDeleter> dec_;
};

TEST(WireForm, L24BothDirections) {
  EncoderRig rig(vl_enc_l24_ctor, "L24/48000/1", 1);
  set_map(rig.enc(), {0});
  rig.put(0, 0, 0x12345678);
  rig.driver().set_current_timestamp(100);
  EXPECT_EQ(rig.encode(0, 1), (Bytes{0x12, 0x34, 0x56}));

  DecoderRig dec(vl_dec_l24_ctor, "L24/48000/1", 1);
  set_map(dec.dec(), {0});
  dec.driver().set_current_timestamp(0);
  EXPECT_EQ(dec.decode(10, {0x12, 0x34, 0x56}), 1);
  EXPECT_EQ(dec.played(10, 0), 0x12345600u);
}

TEST(WireForm, L16BothDirections) {
  EncoderRig rig(vl_enc_l16_ctor, "L16/48000/1", 1);
  set_map(rig.enc(), {0});
  rig.put(0, 0, 0x12345678);
  rig.driver().set_current_timestamp(100);
  EXPECT_EQ(rig.encode(0, 1), (Bytes{0x12, 0x34}));

  DecoderRig dec(vl_dec_l16_ctor, "L16/48000/1", 1);
  set_map(dec.dec(), {0});
  EXPECT_EQ(dec.decode(10, {0x12, 0x34}), 1);
  EXPECT_EQ(dec.played(10, 0), 0x12340000u);
}

TEST(WireForm, L32BothDirections) {
  EncoderRig rig(vl_enc_raw_ctor, "L32/48000/1", 1);
  set_map(rig.enc(), {0});
  rig.put(0, 0, 0x12345678);
  rig.driver().set_current_timestamp(100);
  EXPECT_EQ(rig.encode(0, 1), (Bytes{0x12, 0x34, 0x56, 0x78}));

  DecoderRig dec(vl_dec_raw_ctor, "L32/48000/1", 1);
  set_map(dec.dec(), {0});
  EXPECT_EQ(dec.decode(10, {0x12, 0x34, 0x56, 0x78}), 1);
  EXPECT_EQ(dec.played(10, 0), 0x12345678u);
}

TEST(WireForm, Am824LabelsAndSilence) {
  EncoderRig rig(vl_enc_am824_ctor, "AM824/48000/3", 2);
  set_map(rig.enc(), {0, 1, -1});
  rig.put(0, 0, 0x12345600);
  rig.put(0, 1, 0x123456C0);
  rig.driver().set_current_timestamp(100);
  EXPECT_EQ(rig.encode(0, 1), (Bytes{0x40, 0x12, 0x34, 0x56, 0x80, 0x12, 0x34, 0x56, 0x00, 0x00, 0x00, 0x00}));

  DecoderRig dec(vl_dec_am824_ctor, "AM824/48000/2", 2);
  set_map(dec.dec(), {0, 1});
  EXPECT_EQ(dec.decode(10, {0x40, 0x12, 0x34, 0x56, 0x80, 0x12, 0x34, 0x56}), 1);
  EXPECT_EQ(dec.played(10, 0), 0x12345600u);
  EXPECT_EQ(dec.played(10, 1), 0x123456C0u);  // the label passes through unchanged
}

// Payloads carry exactly channels x bytes x frames: no padding that other
// receivers would play as samples.
TEST(PayloadSize, NoPadding) {
  EncoderRig l16(vl_enc_l16_ctor, "L16/48000/1", 1);
  set_map(l16.enc(), {0});
  l16.driver().set_current_timestamp(100);
  uint64_t frames = 0;
  EXPECT_EQ(l16.encode(0, 3, &frames).size(), 6u);
  EXPECT_EQ(frames, 3u);
  EXPECT_EQ(vl_enc_get_buffer_size(l16.enc(), 3), 6u);

  EncoderRig l24(vl_enc_l24_ctor, "L24/48000/1", 1);
  set_map(l24.enc(), {0});
  l24.driver().set_current_timestamp(100);
  EXPECT_EQ(l24.encode(0, 1).size(), 3u);
  EXPECT_EQ(l24.encode(0, 2).size(), 6u);
  EXPECT_EQ(vl_enc_get_buffer_size(l24.enc(), 1), 3u);

  EncoderRig stereo(vl_enc_l24_ctor, "L24/48000/2", 2);
  stereo.driver().set_current_timestamp(100);
  EXPECT_EQ(stereo.encode(0, 1).size(), 6u);
  EXPECT_EQ(vl_enc_get_buffer_size(stereo.enc(), 48), 288u);
}

TEST(PayloadSize, EncoderStopsAtTheBufferCapacity) {
  EncoderRig rig(vl_enc_l24_ctor, "L24/48000/2", 2);
  rig.driver().set_current_timestamp(100);
  uint64_t frames = 0;
  EXPECT_EQ(rig.encode(0, 48, &frames, 20).size(), 18u);  // 3 whole frames of 6 bytes
  EXPECT_EQ(frames, 3u);
}

TEST(DecoderFrames, TakenFromTheLength) {
  DecoderRig stereo(vl_dec_l16_ctor, "L16/48000/2", 2);
  EXPECT_EQ(stereo.decode(10, Bytes(5, 0x11)), 1);  // (5 / 2) / 2
  DecoderRig mono(vl_dec_l16_ctor, "L16/48000/1", 1);
  set_map(mono.dec(), {0});
  // An older sender padded 3 frames to 8 bytes: the padding plays as silence.
  EXPECT_EQ(mono.decode(10, {0x11, 0x11, 0x22, 0x22, 0x33, 0x33, 0x00, 0x00}), 4);
  EXPECT_EQ(mono.played(12, 0), 0x33330000u);
  EXPECT_EQ(mono.played(13, 0), 0u);
  DecoderRig l24(vl_dec_l24_ctor, "L24/48000/1", 1);
  EXPECT_EQ(l24.decode(10, Bytes(4, 0x11)), 1);  // padding shorter than a frame falls away
  DecoderRig am824(vl_dec_am824_ctor, "AM824/48000/2", 2);
  EXPECT_EQ(am824.decode(10, Bytes(15, 0x11)), 1);
  EXPECT_EQ(am824.decode(10, Bytes(7, 0x11)), 0);
}

TEST(ChannelMaps, EncoderScatteredRepeatedAndUnconnected) {
  EncoderRig rig(vl_enc_raw_ctor, "L32/48000/4", 4);
  set_map(rig.enc(), {3, 0, 3, -1});
  rig.driver().fill_capture(0, 2);
  rig.driver().set_current_timestamp(100);
  const Bytes out = rig.encode(0, 2);
  ASSERT_EQ(out.size(), 32u);
  auto word = [&](size_t k) {
    return (uint32_t{out[4 * k]} << 24) | (uint32_t{out[4 * k + 1]} << 16) | (uint32_t{out[4 * k + 2]} << 8) |
           out[4 * k + 3];
  };
  for (uint32_t f = 0; f < 2; ++f) {
    EXPECT_EQ(word(4 * f + 0), static_cast<uint32_t>(vltest::RingDriver::pattern(f, 3)));
    EXPECT_EQ(word(4 * f + 1), static_cast<uint32_t>(vltest::RingDriver::pattern(f, 0)));
    EXPECT_EQ(word(4 * f + 2), static_cast<uint32_t>(vltest::RingDriver::pattern(f, 3)));
    EXPECT_EQ(word(4 * f + 3), 0u);
  }
}

TEST(ChannelMaps, DecoderLeavesUnnamedPositionsAlone) {
  DecoderRig rig(vl_dec_raw_ctor, "L32/48000/3", 4);
  set_map(rig.dec(), {2, -1, 0});
  rig.driver().fill_capture(0, 0);
  // Mark the ring so that untouched positions are visible.
  for (uint32_t c = 0; c < 4; ++c) ASSERT_EQ(rig.played(5, c), 0u);
  EXPECT_EQ(rig.decode(5, {0xA0, 0, 0, 1, 0xB0, 0, 0, 2, 0xC0, 0, 0, 3}), 1);
  EXPECT_EQ(rig.played(5, 2), 0xA0000001u);
  EXPECT_EQ(rig.played(5, 0), 0xC0000003u);
  EXPECT_EQ(rig.played(5, 1), 0u);  // the consumed sample 0xB0... went nowhere
  EXPECT_EQ(rig.played(5, 3), 0u);
}

TEST(ChannelMaps, NewCodecsAreUnconnected) {
  EncoderRig rig(vl_enc_l24_ctor, "L24/48000/2", 2);
  rig.driver().fill_capture(0, 4);
  rig.driver().set_current_timestamp(100);
  EXPECT_EQ(rig.encode(0, 2), Bytes(12, 0x00));
  DecoderRig dec(vl_dec_l24_ctor, "L24/48000/2", 2);
  EXPECT_EQ(dec.decode(10, Bytes(12, 0x7F)), 2);
  EXPECT_EQ(dec.played(10, 0), 0u);
  EXPECT_EQ(dec.played(11, 1), 0u);
}

// A map naming positions beyond the ring frame could read or write outside
// the ring: such entries are unconnected.
TEST(ChannelMaps, PositionsBeyondTheFrameAreUnconnected) {
  EncoderRig rig(vl_enc_raw_ctor, "L32/48000/2", 2, 16);
  set_map(rig.enc(), {1, 1000000});
  rig.driver().fill_capture(15, 1);
  rig.driver().set_current_timestamp(16);
  const Bytes out = rig.encode(15, 1);
  ASSERT_EQ(out.size(), 8u);
  EXPECT_EQ(Bytes(out.begin() + 4, out.end()), Bytes(4, 0));
  VlChannelMap* map = vl_enc_get_map(rig.enc());
  EXPECT_EQ(map->entries()[1], -1);
  vl_channel_map_dtor(map);

  DecoderRig dec(vl_dec_raw_ctor, "L32/48000/2", 2);
  set_map(dec.dec(), {2, 0});
  EXPECT_EQ(dec.decode(8191, Bytes(8, 0x55)), 1);
  EXPECT_EQ(dec.played(8191, 0), 0x55555555u);
  EXPECT_EQ(dec.played(8191, 1), 0u);
}

TEST(ChannelMaps, EmptyOrMissingMapIsRefusedAndTheOldOneStays) {
  EncoderRig rig(vl_enc_l24_ctor, "L24/48000/2", 2);
  set_map(rig.enc(), {1, 0});
  EXPECT_EQ(vl_enc_set_map(rig.enc(), nullptr), -1);
  VlChannelMap* map = vl_enc_get_map(rig.enc());
  ASSERT_EQ(map->count(), 2u);
  EXPECT_EQ(map->entries()[0], 1);
  vl_channel_map_dtor(map);
  set_map(rig.enc(), {0, 1, 0, 1});  // a map of another size changes the channel count
  EXPECT_EQ(vl_enc_channels(rig.enc()), 4u);
}

// The capture window of N = 8192 frames: reads that cross the ring's end,
// and the 32-bit wrap, are served in two passes.
TEST(Windows, EncoderReadsAcrossTheRingEndAndTheWrap) {
  for (const uint32_t start : {8180u, 4294967290u}) {
    EncoderRig rig(vl_enc_raw_ctor, "L32/48000/1", 1);
    set_map(rig.enc(), {0});
    rig.driver().fill_capture(start, 20, [](uint32_t ts, uint32_t) { return static_cast<int32_t>(ts); });
    rig.driver().set_current_timestamp(start + 20);
    uint64_t frames = 0;
    const Bytes out = rig.encode(start, 20, &frames);
    ASSERT_EQ(frames, 20u) << start;
    for (uint32_t k = 0; k < 20; ++k) {
      const uint32_t word = (uint32_t{out[4 * k]} << 24) | (uint32_t{out[4 * k + 1]} << 16) |
                            (uint32_t{out[4 * k + 2]} << 8) | out[4 * k + 3];
      EXPECT_EQ(word, start + k);
    }
  }
}

TEST(Windows, EncoderOutsideTheWindowReturnsZeroAndLeavesSize) {
  EncoderRig rig(vl_enc_l24_ctor, "L24/48000/1", 1);
  rig.driver().set_current_timestamp(1000);
  for (const uint32_t ts : {1000u, 1100u, 990u}) {  // border, early, and only partly captured
    Bytes out(64, 0xEE);
    uint64_t size = out.size();
    EXPECT_EQ(vl_enc_process(rig.enc(), 48, ts, out.data(), &size), 0u) << ts;
    EXPECT_EQ(size, 64u);
  }
}

TEST(Windows, DecoderWritesAcrossTheRingEndAndTheWrap) {
  for (const uint32_t start : {8180u, 4294967290u}) {
    DecoderRig rig(vl_dec_raw_ctor, "L32/48000/1", 1);
    set_map(rig.dec(), {0});
    rig.driver().set_current_timestamp(start - 100);
    Bytes payload;
    for (uint32_t k = 0; k < 20; ++k)
      for (int shift = 24; shift >= 0; shift -= 8) payload.push_back(static_cast<uint8_t>((start + k) >> shift));
    EXPECT_EQ(rig.decode(start, payload), 20) << start;
    for (uint32_t k = 0; k < 20; ++k) EXPECT_EQ(rig.played(start + k, 0), start + k);
  }
}

TEST(Windows, DecoderLateEarlyAndBorder) {
  DecoderRig rig(vl_dec_l24_ctor, "L24/48000/1", 1);
  set_map(rig.dec(), {0});
  rig.driver().set_current_timestamp(1000);
  EXPECT_EQ(rig.decode(990, Bytes(30, 0x11)), 0);   // already played
  EXPECT_EQ(rig.decode(1000, Bytes(30, 0x11)), 0);  // exactly at the play position
  EXPECT_EQ(rig.played(1000, 0), 0u);
  EXPECT_EQ(rig.decode(1001, Bytes(30, 0x11)), 10);
}

}  // namespace
