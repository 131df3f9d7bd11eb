// Sample-exact streaming between two lab hosts over many seconds: every
// payload format and packet size, synchronized and syntonized, and a
// link that loses, reorders and duplicates packets.
#include "rtp_sw/vl_rtp_packet.h"
#include "vltest/log_capture.h"
#include "vltest/rtp_lab.h"
#include "vltest/wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr auto settle_time = 2s;
constexpr auto check_time = 20s;

class RtpEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(lab_.ok()) << lab_.net().error(); }

  // After the start every ramp shows one offset change; from then on no
  // mismatch for the whole check time.
  void expect_clean_ramps(const std::vector<rtp_lab::Stream*>& streams) {
    for (const rtp_lab::Stream* s : streams) {
      ASSERT_TRUE(vltest::wait_until([s] { return s->analyzer->last_good_timestamp() != 0; }, settle_time)) << s->sdp;
      EXPECT_EQ(s->analyzer->mismatches(), 1u) << s->sdp;
    }
    std::this_thread::sleep_for(check_time);
    for (const rtp_lab::Stream* s : streams) {
      EXPECT_EQ(s->analyzer->mismatches(), 1u) << s->sdp;
      EXPECT_NE(s->analyzer->last_good_timestamp(), 0u) << s->sdp;
    }
  }

  vltest::LogCapture log_;
  rtp_lab::Lab lab_;
};

// The sender's RTP timestamp is the generator's media position plus the sync
// time, and the receiver places a frame at its RTP timestamp minus the sync
// time plus the delay: the analyzer sees exactly -delay as the offset.
TEST_F(RtpEndToEnd, SynchronizedStreamsOfEveryFormatAndPacketSize) {
  std::vector<rtp_lab::Stream*> streams;
  int n = 0;
  for (const char* format : {"L16", "L24", "L32", "AM824"}) {
    for (uint32_t frames : {48u, 288u}) {
      rtp_lab::StreamOptions o;
      o.format = format;
      o.frames_per_packet = frames;
      // 8 channels of 288 32-bit frames would not fit a datagram the
      // receiver takes (9216 bytes).
      o.channels = n % 2 ? 2 : 8;
      o.delay = 96 + 48 * n;
      o.sync_time = 1000u * static_cast<uint32_t>(n);
      rtp_lab::Stream* s = lab_.add(o);
      ASSERT_NE(s, nullptr) << format << " " << frames;
      streams.push_back(s);
      ++n;
    }
  }
  rtp_lab::StreamOptions small;
  small.frames_per_packet = 8;
  small.delay = 1000;
  streams.push_back(lab_.add(small));
  ASSERT_NE(streams.back(), nullptr);

  expect_clean_ramps(streams);
  for (const rtp_lab::Stream* s : streams)
    EXPECT_EQ(s->analyzer->offset(), static_cast<uint16_t>(65536 - s->options.delay)) << s->sdp;
  EXPECT_EQ(log_.count("timeslot missed"), 0);
}

TEST_F(RtpEndToEnd, SyntonizedStreams) {
  std::vector<rtp_lab::Stream*> streams;
  for (const char* format : {"L24", "AM824"}) {
    rtp_lab::StreamOptions o;
    o.format = format;
    o.synchronized = false;
    streams.push_back(lab_.add(o));
    ASSERT_NE(streams.back(), nullptr);
  }
  expect_clean_ramps(streams);
  EXPECT_EQ(log_.count("creating syntonized stream"), 2);
}

// The sender sends to a relay in its own host, which forwards to the group
// and loses 1 %, reorders 1 % within 2 ms and duplicates 0.5 % of the
// packets on the way.
TEST_F(RtpEndToEnd, LossReorderingAndDuplicationOnTheLink) {
  rtp_lab::StreamOptions o;
  o.delay = 480;  // room for reordered packets to land before they are played
  rtp_lab::Stream* s = lab_.add(o);
  ASSERT_NE(s, nullptr);
  lab_.remove_sender(s);
  rtp_lab::ImpairingRelay relay(lab_.net(), s->group, s->port, {}, 20261208);
  ASSERT_TRUE(lab_.add_sender(s, rtp_lab::stream_sdp(o, "127.0.0.1", s->port, "Relayed stream")));
  std::this_thread::sleep_for(settle_time);
  const uint32_t initial = s->analyzer->mismatches();
  std::this_thread::sleep_for(10s);
  lab_.remove_sender(s);
  std::this_thread::sleep_for(100ms);

  EXPECT_LE(initial, 2u);  // the first offset, and the restart behind the relay
  EXPECT_EQ(s->analyzer->mismatches(), initial);
  EXPECT_GT(relay.dropped(), 20);
  EXPECT_GT(relay.duplicated(), 10);
  EXPECT_GT(relay.reordered(), 20);
  EXPECT_GE(log_.count("Packet duplication on seq. no"), relay.duplicated() - 2);
  EXPECT_GE(log_.count("RTP packet reorder"), 1);
  VlReceiverInfo info{};
  ASSERT_TRUE(vl_recvmgr_get_receiver_info(lab_.receiver(), s->receiver, &info));
  const auto lost = static_cast<int>(info.lost & 0xFFFFFF);
  EXPECT_NEAR(lost, relay.dropped(), 3) << "dropped " << relay.dropped();
}

}  // namespace
