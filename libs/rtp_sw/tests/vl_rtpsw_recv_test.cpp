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
  // Lets the reactor read whatever was sent before.
  void settle() { std::this_thread::sleep_for(50ms); }

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

TEST_F(Receiver, DuplicateIsDroppedWithAParseError) {
  VlStreamHandle stream = add();
  ASSERT_NE(stream, nullptr);
  ASSERT_TRUE(deliver(packet(10, 0)));
  ASSERT_TRUE(deliver(packet(11, frames)));
  send(packet(11, frames));
  settle();
  EXPECT_EQ(log_.count("Loopback stream: Packet duplication on seq. no: 11"), 1);
  EXPECT_EQ(log_.count("Loopback stream: RTP parse error 8 (   seq# )"), 1);
  EXPECT_EQ(driver_.completed_writes(), 2);
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

TEST_F(Receiver, LargeJumpRestartsTheStatistics) {
  VlStreamHandle stream = add();
  ASSERT_NE(stream, nullptr);
  ASSERT_TRUE(deliver(packet(13, 0)));
  ASSERT_TRUE(deliver(packet(5013, frames)));
  EXPECT_EQ(log_.count("Loopback stream: RTP restart seq. checker 13 -> 5013"), 1);
  VlReceiverInfo info{};
  ASSERT_TRUE(vl_recvmgr_get_receiver_info(manager_, stream, &info));
  EXPECT_EQ(info.last_seq, 5013u);
  EXPECT_EQ(info.lost & 0xFFFFFF, 1u);  // the count restarts at 0 with the packet that restarted it
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

TEST_F(Receiver, WrongVersionIsAHeaderError) {
  ASSERT_NE(add(), nullptr);
  send(packet(1, 0, 0x40, 0x40));
  settle();
  EXPECT_EQ(log_.count("RTP parse error 2 ( header   )"), 1);
  EXPECT_EQ(driver_.completed_writes(), 0);
}

TEST_F(Receiver, PaddingFillingThePacketIsASizeError) {
  ASSERT_NE(add(), nullptr);
  auto p = packet(1, 0, 0x40, 0x80 | 0x20);
  p.back() = static_cast<uint8_t>(p.size() - vl_rtp_header_size);
  send(p);
  settle();
  EXPECT_EQ(log_.count("RTP parse error 1 (size    )"), 1);
  EXPECT_EQ(driver_.completed_writes(), 0);
}

TEST_F(Receiver, AnotherPayloadTypeIsRefused) {
  ASSERT_NE(add(), nullptr);
  send(packet(1, 0, 0x40, 0x80, 99));
  settle();
  EXPECT_EQ(log_.count("RTP parse error 16 (    payld)"), 1);
}

TEST_F(Receiver, RuntPacketsAreRefused) {
  ASSERT_NE(add(), nullptr);
  send({0x80, payload_type, 0});
  settle();
  EXPECT_EQ(log_.count("RTP parse error 1 (size    )"), 1);
  ASSERT_TRUE(deliver(packet(1, 0)));  // and the stream goes on
}

// The header is parsed again only when its first byte changes; a later
// packet with the same first byte but no room for that header is refused.
TEST_F(Receiver, PacketsShorterThanTheKnownHeaderAreRefused) {
  ASSERT_NE(add(), nullptr);
  auto with_csrc = packet(1, 0, 0x40, 0x82);  // two CSRC entries: a 20-byte header
  ASSERT_TRUE(deliver(with_csrc));
  send(std::vector<uint8_t>(with_csrc.begin(), with_csrc.begin() + 16));
  settle();
  EXPECT_EQ(log_.count("RTP parse error 1 (size    )"), 1);
  EXPECT_EQ(driver_.completed_writes(), 1);
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
  vl_recvmgr_resync_all(manager_);
  settle();
  ASSERT_TRUE(deliver(packet(2, frames, 0x22)));
  EXPECT_EQ(log_.count("Receiving syntonized stream timing"), 2);
  // The second packet was placed like a first one again.
  EXPECT_EQ(driver_.played_sample(now + 1000 + delay, 0), 0x22222200);
}

TEST_F(Receiver, RemovedStreamsPlayNothingAndRemovingTwiceDoesNothing) {
  VlStreamHandle stream = add();
  ASSERT_NE(stream, nullptr);
  ASSERT_TRUE(deliver(packet(1, 0)));
  vl_recvmgr_remove_stream(manager_, stream);
  send(packet(2, frames));
  settle();
  EXPECT_EQ(driver_.completed_writes(), 1);
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
