// The RTP engine between two lab hosts: what goes on the wire, and how
// streams start, restart and stop.
#include "rtp_sw/vl_rtp_packet.h"
#include "vltest/log_capture.h"
#include "vltest/rtp_lab.h"
#include "vltest/wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

class RtpLab : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(lab_.ok()) << lab_.net().error(); }
  // Every stream's analyzer has seen good frames.
  bool streaming() {
    for (const auto& stream : lab_.streams())
      if (stream->analyzer->last_good_timestamp() == 0) return false;
    return true;
  }
  vltest::LogCapture log_;
  rtp_lab::Lab lab_;
};

TEST_F(RtpLab, HeadersOnTheWire) {
  rtp_lab::StreamOptions options;
  options.format = "L16";
  options.channels = 8;
  options.first_seqno = 65530;
  rtp_lab::Stream* stream = lab_.add(options);
  ASSERT_NE(stream, nullptr);
  rtp_lab::WireTap tap(lab_.net(), stream->group, stream->port);
  std::vector<std::vector<uint8_t>> packets;
  for (int i = 0; i < 50; ++i) {
    auto p = tap.next(500);
    ASSERT_FALSE(p.empty()) << "packet " << i;
    packets.push_back(std::move(p));
  }
  for (size_t i = 0; i < packets.size(); ++i) {
    const auto& p = packets[i];
    ASSERT_EQ(p.size(), vl_rtp_header_size + 48u * 8 * 2);
    EXPECT_EQ(p[0] >> 6, 2);  // version 2, no padding, no extension, no CSRC
    EXPECT_EQ(p[0] & 0x3F, 0);
    EXPECT_EQ(p[1], 98);
    EXPECT_EQ(vl_rtp_ssrc(p.data()), rtp_lab::Lab::ssrc);
    if (i == 0) continue;
    EXPECT_EQ(static_cast<uint16_t>(vl_rtp_seqno(p.data()) - vl_rtp_seqno(packets[i - 1].data())), 1);
    EXPECT_EQ(vl_rtp_timestamp(p.data()) - vl_rtp_timestamp(packets[i - 1].data()), 48u);
  }
}

TEST_F(RtpLab, FirstPacketsCarryTheFirstSequenceNumbers) {
  // The lab's first stream goes to this group and port; the tap listens
  // before the stream starts.
  rtp_lab::WireTap tap(lab_.net(), "239.77.0.10", 5004);
  rtp_lab::StreamOptions options;
  options.first_seqno = 65535;
  rtp_lab::Stream* stream = lab_.add(options);
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(stream->port, 5004);
  auto first = tap.next(500);
  auto second = tap.next(500);
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_EQ(vl_rtp_seqno(first.data()), 65535);
  EXPECT_EQ(vl_rtp_seqno(second.data()), 0);
}

TEST_F(RtpLab, RemovingAStreamStopsItsPacketsAtOnce) {
  rtp_lab::Stream* stream = lab_.add({});
  ASSERT_NE(stream, nullptr);
  rtp_lab::WireTap tap(lab_.net(), stream->group, stream->port);
  ASSERT_FALSE(tap.next(500).empty());
  lab_.remove_sender(stream);
  // What was in flight arrives within a millisecond or two; then nothing.
  while (!tap.next(20).empty()) {
  }
  EXPECT_TRUE(tap.next(300).empty());
}

TEST_F(RtpLab, DestroyingManagersWithLiveStreamsIsClean) {
  for (int i = 0; i < 4; ++i) ASSERT_NE(lab_.add({}), nullptr);
  ASSERT_TRUE(vltest::wait_until([&] { return streaming(); }, 2s));
  const auto start = std::chrono::steady_clock::now();
  lab_.destroy_managers();  // their streams still in them
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

// A restarted sender begins with another sequence number: the receiver
// restarts its statistics, keeps its placement, and the ramp stays intact.
TEST_F(RtpLab, SequenceRestartAndResyncKeepTheRampIntact) {
  rtp_lab::StreamOptions options;
  rtp_lab::Stream* stream = lab_.add(options);
  ASSERT_NE(stream, nullptr);
  ASSERT_TRUE(vltest::wait_until([&] { return streaming(); }, 2s));
  EXPECT_EQ(stream->analyzer->mismatches(), 1u);  // the ramp's start
  lab_.remove_sender(stream);
  stream->options.first_seqno = static_cast<uint16_t>(options.first_seqno + 20000);
  ASSERT_TRUE(lab_.add_sender(stream, stream->sdp));
  ASSERT_TRUE(vltest::wait_until([&] { return log_.count("RTP restart seq. checker") == 1; }, 2s));
  vl_sendmgr_resync_all(lab_.sender());
  vl_recvmgr_resync_all(lab_.receiver());
  // Both resyncs act within a packet time; the ramp must then go on for
  // another 100 ms of good frames.
  const uint32_t after_resync = stream->analyzer->last_good_timestamp();
  ASSERT_TRUE(vltest::wait_until(
      [&] { return stream->analyzer->last_good_timestamp() - after_resync > 4800; }, 2s));
  EXPECT_EQ(stream->analyzer->mismatches(), 1u);
  EXPECT_EQ(stream->analyzer->offset(), static_cast<uint16_t>(65536 - options.delay));
  EXPECT_EQ(log_.count("resync ts="), 2);  // the first tick of each sender only
}

}  // namespace
