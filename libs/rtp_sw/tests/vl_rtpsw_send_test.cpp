// The software sender over a ring driver, sending to 127.0.0.1.
#include "rtp_sw/vl_rtp_packet.h"
#include "rtp_sw/vl_rtpsw_send.h"

#include "rtp_test_support.h"
#include "vlsys/vl_time.h"
#include "vltest/log_capture.h"
#include "vltest/ring_driver.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>

namespace {

constexpr uint32_t ssrc = 0x11223344;
constexpr uint32_t frames = 48;

// Timers of this driver tick every packet.
vltest::RingDriver::Config small_blocks() {
  vltest::RingDriver::Config config;
  config.block_frames = 16;
  return config;
}

class Sender : public ::testing::Test {
 protected:
  void SetUp() override {
    manager_ = vl_rtp_sw_send_init();
    ASSERT_NE(manager_, nullptr);
    options_.port = peer_.port();
  }
  void TearDown() override { vl_rtp_sw_send_done(manager_); }

  VlStreamHandle add(uint16_t first_seqno = 1000, uint32_t n = frames) {
    const std::string text = rtp_test::sdp(options_);
    return vl_sendmgr_add_stream(manager_, &iface_, text.c_str(), driver_.get_capture_ifc(), ssrc, first_seqno, n, 0);
  }
  void connect_all(VlStreamHandle stream) {
    const int32_t entries[] = {0, 1};
    VlChannelMapPtr map(vl_channel_map_ctor(entries, 2));
    vl_sendmgr_set_channel_map(manager_, stream, map.get());
  }
  // Moves the capture clock on and runs the due ticks.
  void capture(uint32_t more) {
    driver_.fill_capture(driver_.current_timestamp(), more);
    driver_.advance(more);
    driver_.fire_due_timers();
  }
  std::vector<std::vector<uint8_t>> packets() {
    std::vector<std::vector<uint8_t>> all;
    for (auto p = peer_.receive(100); !p.empty(); p = peer_.receive(20)) all.push_back(p);
    return all;
  }

  vltest::LogCapture log_;
  rtp_test::LoopbackSocket peer_;
  vl_host_iface iface_ = rtp_test::loopback_interface();
  vltest::RingDriver driver_{small_blocks()};
  rtp_test::SdpOptions options_;
  VlSendmgr* manager_ = nullptr;
};

TEST_F(Sender, PacketsCarryTheHeaderAndTheRingContent) {
  driver_.set_current_timestamp(5000);
  VlStreamHandle stream = add(1000);
  ASSERT_NE(stream, nullptr);
  connect_all(stream);
  capture(128);  // the first tick aligns; the next sends what has been captured
  capture(4 * frames);
  const auto got = packets();
  ASSERT_EQ(got.size(), 4u);
  for (size_t i = 0; i < got.size(); ++i) {
    const auto& p = got[i];
    ASSERT_EQ(p.size(), vl_rtp_header_size + frames * 2 * 3);
    EXPECT_EQ(p[0], 0x80);
    EXPECT_EQ(p[1], 98);
    EXPECT_EQ(vl_rtp_seqno(p.data()), 1000 + i);
    EXPECT_EQ(vl_rtp_ssrc(p.data()), ssrc);
    if (i > 0) {
      EXPECT_EQ(vl_rtp_timestamp(p.data()) - vl_rtp_timestamp(got[i - 1].data()), frames);
    }
  }
  // The timestamp is the PTP media clock of the packet's first frame plus
  // the sync time: first frame at the position the first tick found.
  const uint32_t first_frame = 5000 + 128;
  EXPECT_EQ(vl_rtp_timestamp(got[0].data()), vl_time_ns2ts(driver_.ptp_time_of(first_frame), {48000, 1}));
  // Samples: L24 of the ring pattern, channel 0 then 1.
  const int32_t sample = vltest::RingDriver::pattern(first_frame, 1);
  EXPECT_EQ(got[0][12 + 3], static_cast<uint8_t>(static_cast<uint32_t>(sample) >> 24));
  EXPECT_EQ(got[0][12 + 5], static_cast<uint8_t>(static_cast<uint32_t>(sample) >> 8));
}

TEST_F(Sender, SyncTimeShiftsTheTimestamps) {
  options_.sync = 1000000;
  driver_.set_current_timestamp(0);
  VlStreamHandle stream = add();
  ASSERT_NE(stream, nullptr);
  capture(128);
  capture(frames);
  const auto got = packets();
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(vl_rtp_timestamp(got[0].data()), 1000000 + vl_time_ns2ts(driver_.ptp_time_of(128), {48000, 1}));
  EXPECT_EQ(log_.count("resync ts="), 1);  // the offset was recomputed once
}

TEST_F(Sender, SequenceNumbersWrap) {
  VlStreamHandle stream = add(65535);
  ASSERT_NE(stream, nullptr);
  capture(128);
  capture(2 * frames);
  const auto got = packets();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(vl_rtp_seqno(got[0].data()), 65535);
  EXPECT_EQ(vl_rtp_seqno(got[1].data()), 0);
}

TEST_F(Sender, FrameCountsAreChecked) {
  errno = 0;
  EXPECT_EQ(add(1, 5), nullptr);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(log_.count("Invalid frame count 5, must be at least: 6!"), 1);
  VlStreamHandle smallest = add(1, 6);
  EXPECT_NE(smallest, nullptr);
  vl_sendmgr_remove_stream(manager_, smallest);
}

// 125 us packets: a block of 16 frames holds two and a half of them, the
// rest waits for the next block.
TEST_F(Sender, SixFramePacketsFollowEachOther) {
  VlStreamHandle stream = add(1, 6);
  ASSERT_NE(stream, nullptr);
  connect_all(stream);
  capture(128);
  capture(48);
  const auto got = packets();
  ASSERT_EQ(got.size(), 8u);
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].size(), vl_rtp_header_size + 6 * 2 * 3);
    EXPECT_EQ(vl_rtp_timestamp(got[i].data()) - vl_rtp_timestamp(got[0].data()), 6 * i);
  }
}

TEST(SenderWindow, FrameCountAgainstBlockAndDepth) {
  VlSendmgr* manager = vl_rtp_sw_send_init();
  vltest::LogCapture log;
  vltest::RingDriver::Config config;
  config.block_frames = 512;
  config.buffer_frames = 1024;
  vltest::RingDriver driver(config);
  rtp_test::LoopbackSocket peer;
  rtp_test::SdpOptions options;
  options.port = peer.port();
  const std::string text = rtp_test::sdp(options);
  const vl_host_iface iface = rtp_test::loopback_interface();
  for (uint32_t n : {48u, 512u}) {
    VlStreamHandle s = vl_sendmgr_add_stream(manager, &iface, text.c_str(), driver.get_capture_ifc(), 1, 1, n, 0);
    EXPECT_NE(s, nullptr) << n;
    vl_sendmgr_remove_stream(manager, s);
  }
  EXPECT_EQ(vl_sendmgr_add_stream(manager, &iface, text.c_str(), driver.get_capture_ifc(), 1, 1, 600, 0), nullptr);
  EXPECT_EQ(log.count("Invalid frame count: 600, block_size: 512, capture_depth: 1024!"), 1);
  vl_rtp_sw_send_done(manager);
}

TEST_F(Sender, MissingSyncTimeWarnsAndStreamsWithZero) {
  options_.sync_time = false;
  VlStreamHandle stream = add();
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(log_.count("Stream Loopback stream: Missing sync_time attribute in SDP!"), 1);
  capture(128);
  capture(frames);
  EXPECT_EQ(packets().size(), 1u);
}

TEST_F(Sender, AMissedWindowSkipsToThePresentAndConsumesASequenceNumber) {
  VlStreamHandle stream = add(10);
  ASSERT_NE(stream, nullptr);
  capture(128);
  capture(frames);
  driver_.set_stopping(true);  // the capture window refuses
  capture(frames);
  driver_.set_stopping(false);
  capture(frames);
  const auto got = packets();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(vl_rtp_seqno(got[0].data()), 10);
  EXPECT_EQ(vl_rtp_seqno(got[1].data()), 12);  // 11 was the missed slot
  EXPECT_EQ(log_.count("timeslot missed"), 1);
}

TEST_F(Sender, ResyncWithTheSameOffsetKeepsThePosition) {
  VlStreamHandle stream = add();
  ASSERT_NE(stream, nullptr);
  capture(128);
  capture(frames);
  const int resyncs = log_.count("resync ts=");
  vl_sendmgr_resync_all(manager_);
  capture(frames);
  EXPECT_EQ(log_.count("resync ts="), resyncs);
  EXPECT_EQ(log_.count("Send::resync_all called"), 0);  // debug, not enabled
  const auto got = packets();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(vl_rtp_timestamp(got[1].data()) - vl_rtp_timestamp(got[0].data()), frames);
}

TEST_F(Sender, ResyncAfterAClockJumpMovesOffsetAndPosition) {
  VlStreamHandle stream = add();
  ASSERT_NE(stream, nullptr);
  capture(128);
  capture(frames);
  // The PTP time of the capture clock jumps by 10 ms.
  driver_.set_timestamp_relation(driver_.current_timestamp(),
                                 driver_.ptp_time_of(driver_.current_timestamp()) + 10000000);
  vl_sendmgr_resync_all(manager_);
  capture(frames);
  capture(frames);
  const auto got = packets();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(log_.count("resync ts="), 2);
  // The position jumped to the tick's capture position, the offset by the
  // 480 frames of the jump.
  EXPECT_EQ(vl_rtp_timestamp(got[1].data()) - vl_rtp_timestamp(got[0].data()), 2 * frames + 480);
}

// The RTP timestamp reported for the last packet is paired with its own PTP
// time, not with the time of the tick that sent it.
TEST_F(Sender, StatisticsCountSentPackets) {
  VlStreamHandle stream = add();
  ASSERT_NE(stream, nullptr);
  capture(128);
  capture(3 * frames + 10);  // the tick comes 10 frames after the last packet
  VlSenderInfo info{};
  info.ssrc = 77;
  ASSERT_TRUE(vl_sendmgr_get_sender_info(manager_, stream, &info));
  EXPECT_EQ(info.psend, 3u);
  EXPECT_EQ(info.osend, 3u * frames * 6);
  EXPECT_EQ(info.ssrc, 77u);  // not touched
  const auto got = packets();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(info.rtp_ts, vl_rtp_timestamp(got[2].data()) + frames);
  const uint64_t ntp = vl_tai_to_ntp(driver_.ptp_time_of(driver_.current_timestamp() - 10));
  EXPECT_EQ(info.ntp_sec, static_cast<uint32_t>(ntp));
  EXPECT_NEAR(info.ntp_frac, static_cast<uint32_t>(ntp >> 32), 5);  // within a nanosecond
  EXPECT_EQ(vl_sendmgr_channels(manager_, stream), 2u);
}

TEST_F(Sender, RemovedStreamsSendNothing) {
  VlStreamHandle stream = add();
  ASSERT_NE(stream, nullptr);
  capture(128);
  capture(frames);
  EXPECT_EQ(packets().size(), 1u);
  vl_sendmgr_remove_stream(manager_, stream);
  EXPECT_EQ(driver_.timer_count(), 0u);
  capture(4 * frames);
  EXPECT_TRUE(packets().empty());
}

TEST_F(Sender, DestroyingTheManagerStopsLiveStreams) {
  for (int i = 0; i < 3; ++i) ASSERT_NE(add(static_cast<uint16_t>(i)), nullptr);
  EXPECT_EQ(driver_.timer_count(), 3u);
  vl_rtp_sw_send_done(manager_);
  EXPECT_EQ(driver_.timer_count(), 0u);
  manager_ = vl_rtp_sw_send_init();
}

TEST_F(Sender, BadArgumentsAndUnknownEncodings) {
  errno = 0;
  EXPECT_EQ(vl_sendmgr_add_stream(manager_, &iface_, nullptr, driver_.get_capture_ifc(), 1, 1, 48, 0), nullptr);
  EXPECT_EQ(errno, EFAULT);
  options_.encoding = "L8/48000/2";
  EXPECT_EQ(add(), nullptr);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(log_.count("Cannot find suitable encoder for L8/48000/2"), 1);
  options_.encoding = "L24/48000/0";
  EXPECT_EQ(add(), nullptr);
  EXPECT_EQ(log_.count("Cannot construct encoder for L24/48000/0"), 1);
  options_.encoding = "L24/44100/2";  // the capture device runs at 48 kHz
  errno = 0;
  EXPECT_EQ(add(), nullptr);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(log_.count("the SDP's rate 44100/1 differs from the audio device's rate 48000/1"), 1);
  EXPECT_EQ(driver_.timer_count(), 0u);
}

// A resync requested while add_stream is still under way (its first tick
// already run) reaches the stream.
TEST_F(Sender, ResyncDuringAddStreamIsKept) {
  capture(128);
  driver_.on_next_timer_set([this] {
    driver_.fire_due_timers();  // the first tick sets the offset
    driver_.set_timestamp_relation(driver_.current_timestamp(),
                                   driver_.ptp_time_of(driver_.current_timestamp()) + 10000000);
    vl_sendmgr_resync_all(manager_);
  });
  ASSERT_NE(add(), nullptr);
  capture(frames);
  EXPECT_EQ(log_.count("resync ts="), 2);
}

// Send failures come at packet rate: one line a second, which then says how
// many were held back.
TEST_F(Sender, SendFailuresAreRateLimited) {
  options_.encoding = "L24/48000/8";
  constexpr uint32_t oversized = 3000;  // 72000 payload bytes: more than a UDP datagram holds
  VlStreamHandle stream = add(1, oversized);
  ASSERT_NE(stream, nullptr);
  capture(128);
  for (int i = 0; i < 4; ++i) capture(oversized);
  VlSenderInfo info{};
  ASSERT_TRUE(vl_sendmgr_get_sender_info(manager_, stream, &info));
  EXPECT_EQ(info.psend, 0u);
  EXPECT_EQ(log_.count("Could not send RTP packet: Message too long."), 1);
}

TEST_F(Sender, EncodersAreListed) {
  json_t* list = json_array();
  vl_sendmgr_get_encoders(manager_, list);
  ASSERT_EQ(json_array_size(list), 4u);
  EXPECT_STREQ(json_string_value(json_array_get(list, 0)), "L16");
  EXPECT_STREQ(json_string_value(json_array_get(list, 3)), "L32");
  json_decref(list);
}

}  // namespace
