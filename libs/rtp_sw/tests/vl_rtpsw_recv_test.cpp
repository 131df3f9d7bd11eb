// The software receiver fed with crafted packets on the loopback interface.
#include "rtp_sw/vl_rtp_packet.h"
#include "rtp_sw/vl_rtpsw_recv.h"

#include "rtp_test_support.h"
#include "vlsys/vl_time.h"
#include "vltest/log_capture.h"
#include "vltest/ring_driver.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr uint8_t payload_type = 98;
constexpr uint32_t frames = 48;
constexpr int32_t delay = 96;
// The play position of the tests: 2 s of media time, a whole number of
// nanoseconds, so that PTP time and media time convert without rounding.
constexpr uint32_t now = 96000;

class Receiver : public ::testing::Test {
 protected:
  void SetUp() override {
    manager_ = vl_rtp_sw_recv_init();
    ASSERT_NE(manager_, nullptr);
    options_.port = rtp_test::free_port();
    options_.encoding = "L24/48000/1";
    options_.sync_time = false;  // placement by the first packet: any RTP timestamps will do
    driver_.set_current_timestamp(now);
  }
  void TearDown() override { vl_rtp_sw_recv_done(manager_); }

  VlStreamHandle add() {
    const std::string text = rtp_test::sdp(options_);
    VlStreamHandle stream = vl_recvmgr_add_stream(manager_, &iface_, text.c_str(), driver_.get_play_ifc(), delay);
    if (stream) {
      const int32_t entries[] = {0};
      VlChannelMapPtr map(vl_channel_map_ctor(entries, 1));
      vl_recvmgr_set_channel_map(manager_, stream, map.get());
    }
    return stream;
  }

  // One mono L24 packet whose every sample is `value`.
  std::vector<uint8_t> packet(uint16_t seqno, uint32_t rtp_ts, uint8_t value = 0x40, uint8_t first = 0x80,
                              uint8_t type = payload_type) {
    std::vector<uint8_t> p(vl_rtp_header_size + frames * 3, value);
    p[0] = first;
    p[1] = type;
    vl_rtp_put16(p.data() + 2, seqno);
    vl_rtp_put32(p.data() + 4, rtp_ts);
    vl_rtp_put32(p.data() + 8, 0xCAFEF00D);
    return p;
  }
  void send(const std::vector<uint8_t>& p) { peer_.send_to(options_.port, p); }

  // Waits until the reactor has written `writes` blocks in all.
  bool wait_for_writes(int writes) {
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (driver_.completed_writes() < writes) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }
  // Sends a packet and waits until it is played (or 2 s have passed).
  bool deliver(const std::vector<uint8_t>& p) {
    const int before = driver_.completed_writes();
    send(p);
    return wait_for_writes(before + 1);
  }

  vltest::LogCapture log_;
  rtp_test::LoopbackSocket peer_;
  vl_host_iface iface_ = rtp_test::loopback_interface();
  vltest::RingDriver driver_;
  rtp_test::SdpOptions options_;
  VlRecvmgr* manager_ = nullptr;
};

TEST_F(Receiver, SyntonizedStreamPlaysDelayFramesAfterTheRelationPoint) {
  VlStreamHandle stream = add();
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(log_.count("creating syntonized stream"), 1);
  errno = 0;
  VlReceiverInfo info{};
  EXPECT_FALSE(vl_recvmgr_get_receiver_info(manager_, stream, &info));
  EXPECT_EQ(errno, EAGAIN);

  ASSERT_TRUE(deliver(packet(1000, 7777, 0x40)));
  const uint32_t at = now + delay;  // relation point C plus the delay
  EXPECT_EQ(driver_.played_sample(at, 0), 0x40404000);
  EXPECT_EQ(driver_.played_sample(at - 1, 0), 0);
  EXPECT_EQ(log_.count("Receiving syntonized stream timing"), 1);
  // Later packets keep their RTP spacing.
  ASSERT_TRUE(deliver(packet(1001, 7777 + frames, 0x41)));
  EXPECT_EQ(driver_.played_sample(at + frames, 0), 0x41414100);

  ASSERT_TRUE(vl_recvmgr_get_receiver_info(manager_, stream, &info));
  EXPECT_EQ(info.ssrc, 0xCAFEF00Du);
  EXPECT_EQ(info.last_seq, 1001u);
  EXPECT_EQ(info.lost, 0u);
}

TEST_F(Receiver, SynchronizedStreamIsPlacedByPtpTime) {
  options_.sync_time = true;
  options_.sync = 5000;
  VlStreamHandle stream = add();
  ASSERT_NE(stream, nullptr);
  // A sender captured frame t at PTP time p(t): its RTP timestamp is the
  // media clock of p(t) plus the sync time. It plays at t + delay.
  const uint32_t t = now + 48;
  const uint32_t rtp = vl_time_ns2ts(driver_.ptp_time_of(t), {48000, 1}) + 5000;
  ASSERT_TRUE(deliver(packet(1, rtp, 0x55)));
  EXPECT_EQ(driver_.played_sample(t + delay, 0), 0x55555500);
  EXPECT_EQ(driver_.played_sample(t + delay - 1, 0), 0);
  EXPECT_EQ(log_.count("Receiving synchronized stream timing"), 1);
}

TEST_F(Receiver, DuplicateIsDropped) {
  VlStreamHandle stream = add();
  ASSERT_NE(stream, nullptr);
  ASSERT_TRUE(deliver(packet(10, 0)));
  ASSERT_TRUE(deliver(packet(11, frames)));
  send(packet(11, frames, 0x77));
  ASSERT_TRUE(deliver(packet(12, 2 * frames)));
  EXPECT_EQ(log_.count("Loopback stream: Packet duplication on seq. no: 11"), 1);
  EXPECT_EQ(driver_.completed_writes(), 3);
  EXPECT_NE(driver_.played_sample(now + delay + frames, 0), 0x77777700);
}

TEST_F(Receiver, LossIsCountedAndThePacketPlayed) {
  VlStreamHandle stream = add();
  ASSERT_NE(stream, nullptr);
  ASSERT_TRUE(deliver(packet(10, 0)));
  ASSERT_TRUE(deliver(packet(13, 3 * frames)));
  EXPECT_EQ(log_.count("Loopback stream: Bad RTP seq. no. 10 -> 13 (2)"), 1);
  VlReceiverInfo info{};
  ASSERT_TRUE(vl_recvmgr_get_receiver_info(manager_, stream, &info));
  EXPECT_EQ(info.last_seq, 13u);
  EXPECT_EQ(info.lost & 0xFFFFFF, 2u);
  EXPECT_EQ(info.lost >> 24, 128u);  // 2 of 4 lost in this interval
}

TEST_F(Receiver, ReorderedPacketIsPlayedAtItsOwnTimestamp) {
  VlStreamHandle stream = add();
  ASSERT_NE(stream, nullptr);
  ASSERT_TRUE(deliver(packet(10, 0, 0x10)));
  ASSERT_TRUE(deliver(packet(13, 3 * frames, 0x13)));
  ASSERT_TRUE(deliver(packet(12, 2 * frames, 0x12)));
  EXPECT_EQ(log_.count("Loopback stream: RTP packet reorder 13 -> 12"), 1);
  const uint32_t base = now + delay;
  EXPECT_EQ(driver_.played_sample(base + 2 * frames, 0), 0x12121200);
  EXPECT_EQ(driver_.played_sample(base + 3 * frames, 0), 0x13131300);
  VlReceiverInfo info{};
  ASSERT_TRUE(vl_recvmgr_get_receiver_info(manager_, stream, &info));
  EXPECT_EQ(info.last_seq, 13u);
}

// The packet that restarts the numbering is counted after the reset: an
// unbroken stream loses nothing.
TEST_F(Receiver, LargeJumpRestartsTheStatistics) {
  VlStreamHandle stream = add();
  ASSERT_NE(stream, nullptr);
  ASSERT_TRUE(deliver(packet(13, 0)));
  for (uint16_t seqno = 5013; seqno <= 5015; ++seqno)
    ASSERT_TRUE(deliver(packet(seqno, (seqno - 5012u) * frames)));
  EXPECT_EQ(log_.count("Loopback stream: RTP restart seq. checker 13 -> 5013"), 1);
  VlReceiverInfo info{};
  ASSERT_TRUE(vl_recvmgr_get_receiver_info(manager_, stream, &info));
  EXPECT_EQ(info.last_seq, 5015u);
  EXPECT_EQ(info.lost, 0u);
}

TEST_F(Receiver, SequenceWrapCountsACycle) {
  VlStreamHandle stream = add();
  ASSERT_NE(stream, nullptr);
  ASSERT_TRUE(deliver(packet(65535, 0)));
  ASSERT_TRUE(deliver(packet(0, frames)));
  EXPECT_EQ(log_.count("Bad RTP seq."), 0);
  VlReceiverInfo info{};
  ASSERT_TRUE(vl_recvmgr_get_receiver_info(manager_, stream, &info));
  EXPECT_EQ(info.last_seq, 65536u);
  EXPECT_EQ(info.lost, 0u);
}

TEST_F(Receiver, AStreamThatStartsAtZeroLosesNothing) {
  VlStreamHandle stream = add();
  ASSERT_NE(stream, nullptr);
  ASSERT_TRUE(deliver(packet(0, 0)));
  ASSERT_TRUE(deliver(packet(1, frames)));
  VlReceiverInfo info{};
  ASSERT_TRUE(vl_recvmgr_get_receiver_info(manager_, stream, &info));
  EXPECT_EQ(info.last_seq, 1u);
  EXPECT_EQ(info.lost, 0u);
}

// Malformed datagrams are dropped and do not set the stream's timing: the
// good packet after them is placed as the first one.
TEST_F(Receiver, MalformedDatagramsAreDroppedWhateverCameBefore) {
  auto padding_fills = packet(1, 0, 0x66, 0x80 | 0x20);
  padding_fills.back() = static_cast<uint8_t>(padding_fills.size() - vl_rtp_header_size);
  const std::vector<std::vector<uint8_t>> bad = {
      packet(1, 0, 0x66, 0x00),                    // version 0, equal to a fresh receiver's state
      packet(1, 0, 0x66, 0x20),                    // version 0 with padding
      packet(1, 0, 0x66, 0x40),                    // version 1
      padding_fills,                               // padding leaves no payload
      packet(1, 0, 0x66, 0x80, 99),                // another payload type
      {0x80, payload_type, 0},                     // runt
      std::vector<uint8_t>(vl_rtp_receive_buffer_size + 1, 0x80),  // larger than the buffer
  };
  ASSERT_NE(add(), nullptr);
  for (const auto& datagram : bad) send(datagram);
  ASSERT_TRUE(deliver(packet(2, 5000, 0x40)));
  EXPECT_EQ(driver_.completed_writes(), 1);
  EXPECT_EQ(driver_.played_sample(now + delay, 0), 0x40404000);
}

// A header grows by its CSRC list and extension, read anew for every packet.
TEST_F(Receiver, EachPacketIsDecodedAfterItsOwnHeader) {
  ASSERT_NE(add(), nullptr);
  auto with_extension = [&](uint16_t seqno, uint32_t rtp_ts, uint8_t value, uint16_t words) {
    auto p = packet(seqno, rtp_ts, value, 0x80 | 0x10 | 0x01);  // one CSRC and an extension
    std::vector<uint8_t> extension(8 + 4 * words, 0xEE);
    vl_rtp_put16(extension.data() + 6, words);
    p.insert(p.begin() + vl_rtp_header_size, extension.begin(), extension.end());
    return p;
  };
  ASSERT_TRUE(deliver(with_extension(1, 0, 0x31, 1)));
  ASSERT_TRUE(deliver(with_extension(2, frames, 0x32, 3)));
  const uint32_t base = now + delay;
  EXPECT_EQ(driver_.played_sample(base, 0), 0x31313100);
  EXPECT_EQ(driver_.played_sample(base + frames, 0), 0x32323200);
  EXPECT_EQ(driver_.played_sample(base + 2 * frames - 1, 0), 0x32323200);
}

TEST_F(Receiver, ANewSsrcStartsNewStatistics) {
  VlStreamHandle stream = add();
  ASSERT_NE(stream, nullptr);
  ASSERT_TRUE(deliver(packet(10, 0)));
  auto other = packet(500, frames);
  vl_rtp_put32(other.data() + 8, 0x12345678);
  ASSERT_TRUE(deliver(other));
  VlReceiverInfo info{};
  ASSERT_TRUE(vl_recvmgr_get_receiver_info(manager_, stream, &info));
  EXPECT_EQ(info.ssrc, 0x12345678u);
  EXPECT_EQ(info.last_seq, 500u);
  EXPECT_EQ(info.lost, 0u);
}

// RTP timestamps far from the play clock, as PTP-derived ones are: a steady
// stream has no jitter, on either side of the sign and the wrap.
TEST_F(Receiver, JitterOfASteadyStreamIsZeroAnywhereOnTheClock) {
  for (const uint32_t first : {0x7FFFFFE0u, 0xFFFFFFE0u}) {
    options_.port = rtp_test::free_port();
    VlStreamHandle stream = add();
    ASSERT_NE(stream, nullptr);
    for (uint16_t i = 0; i < 4; ++i) {
      ASSERT_TRUE(deliver(packet(i, first + i * frames)));
      driver_.advance(frames);
    }
    VlReceiverInfo info{};
    ASSERT_TRUE(vl_recvmgr_get_receiver_info(manager_, stream, &info));
    EXPECT_EQ(info.jitter, 0u) << std::hex << first;
    vl_recvmgr_remove_stream(manager_, stream);
  }
}

TEST_F(Receiver, PaddedPacketsPlayOnlyTheirPayload) {
  ASSERT_NE(add(), nullptr);
  auto p = packet(1, 0, 0x33, 0x80 | 0x20);
  p.insert(p.end(), {0, 0, 0, 4});  // four bytes of RTP padding
  ASSERT_TRUE(deliver(p));
  const uint32_t base = now + delay;
  EXPECT_EQ(driver_.played_sample(base + frames - 1, 0), 0x33333300);
  EXPECT_EQ(driver_.played_sample(base + frames, 0), 0);
}

TEST_F(Receiver, ResyncRecomputesTheOffset) {
  VlStreamHandle stream = add();
  ASSERT_NE(stream, nullptr);
  ASSERT_TRUE(deliver(packet(1, 0)));
  driver_.advance(1000);
  // The reactor takes queued commands before it reads the sockets.
  vl_recvmgr_resync_all(manager_);
  ASSERT_TRUE(deliver(packet(2, frames, 0x22)));
  EXPECT_EQ(log_.count("Receiving syntonized stream timing"), 2);
  // The second packet was placed like a first one again.
  EXPECT_EQ(driver_.played_sample(now + 1000 + delay, 0), 0x22222200);
}

TEST_F(Receiver, RemovedStreamsPlayNothing) {
  VlStreamHandle stream = add();
  ASSERT_NE(stream, nullptr);
  ASSERT_TRUE(deliver(packet(1, 0)));
  vl_recvmgr_remove_stream(manager_, stream);
  // The port is free again once the stream is gone; a new stream on it
  // takes the next packet, the removed one nothing.
  ASSERT_NE(add(), nullptr);
  ASSERT_TRUE(deliver(packet(2, frames)));
  EXPECT_EQ(driver_.completed_writes(), 2);
}

TEST_F(Receiver, DestroyingTheManagerWithLiveStreamsIsClean) {
  options_.port = rtp_test::free_port();
  ASSERT_NE(add(), nullptr);
  options_.port = rtp_test::free_port();
  ASSERT_NE(add(), nullptr);
  const auto start = std::chrono::steady_clock::now();
  vl_rtp_sw_recv_done(manager_);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
  manager_ = vl_rtp_sw_recv_init();
}

TEST_F(Receiver, BadArgumentsAndUnknownEncodings) {
  errno = 0;
  EXPECT_EQ(vl_recvmgr_add_stream(manager_, &iface_, nullptr, driver_.get_play_ifc(), 0), nullptr);
  EXPECT_EQ(errno, EFAULT);
  options_.encoding = "L8/48000/1";
  EXPECT_EQ(add(), nullptr);
  EXPECT_EQ(log_.count("No suitable decoder found for L8/48000/1"), 1);
  options_.encoding = "L24/44100/1";  // the play interface runs at 48 kHz
  EXPECT_EQ(add(), nullptr);
  EXPECT_EQ(log_.count("Cannot construct decoder for L24/44100/1"), 1);
  EXPECT_EQ(log_.count("receiver couldn't be constructed"), 2);
}

// SDP as other peers write it: the connection at session level, the media
// clock at media level, the encoding in lower case and without a channel
// count (one channel).
TEST_F(Receiver, PeerWrittenSdpIsAccepted) {
  const std::string text = "v=0\no=- 0 0 IN IP4 127.0.0.1\ns=Peer stream\nc=IN IP4 127.0.0.1\nt=0 0\n"
                           "m=audio " + std::to_string(options_.port) + " RTP/AVP 98\n"
                           "a=rtpmap:98 l24/48000\na=mediaclk:direct=5000\n";
  VlStreamHandle stream = vl_recvmgr_add_stream(manager_, &iface_, text.c_str(), driver_.get_play_ifc(), delay);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(vl_recvmgr_channels(manager_, stream), 1u);
  EXPECT_EQ(log_.count("creating syntonized stream"), 0);
  EXPECT_EQ(log_.count("synced to"), 1);
}

TEST(ReceiverManagers, EachHasItsOwnWakeUps) {
  VlRecvmgr* first = vl_rtp_sw_recv_init();
  VlRecvmgr* second = vl_rtp_sw_recv_init();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  vl_rtp_sw_recv_done(first);
  // The second manager's reactor still takes commands.
  vltest::RingDriver driver;
  driver.set_current_timestamp(now);
  rtp_test::SdpOptions options;
  options.port = rtp_test::free_port();
  options.encoding = "L24/48000/1";
  const std::string text = rtp_test::sdp(options);
  const vl_host_iface iface = rtp_test::loopback_interface();
  VlStreamHandle stream = vl_recvmgr_add_stream(second, &iface, text.c_str(), driver.get_play_ifc(), 0);
  ASSERT_NE(stream, nullptr);
  const auto start = std::chrono::steady_clock::now();
  vl_recvmgr_remove_stream(second, stream);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
  vl_rtp_sw_recv_done(second);
}

}  // namespace
