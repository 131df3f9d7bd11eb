// RTP timestamps made on the ptp4l-backed reference are on the PTP scale:
// a ramp generator timed by it feeds the software sender, which sends to
// 127.0.0.1.
#include "linuxptp/vl_linuxptp.h"

#include "generator_analyzer/generator_ramp.h"
#include "ptp4l_test_support.h"
#include "rtp_sw/vl_rtp_packet.h"
#include "rtp_sw/vl_rtpsw_send.h"
#include "rtp_test_support.h"
#include "vl/vl_channel_map.h"
#include "vl/vl_ptp.h"
#include "vlsys/vl_time.h"
#include "vltest/log_capture.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr vl_rational rate = {48000, 1};

class LinuxPtpRtp : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(responder_.ok());
    ASSERT_EQ(vl_ptp_init(), 0);
    ASSERT_TRUE(vl_linuxptp_init(dir_.socket.c_str()));
    generator_.reset(vl_generator_ramp_ctor(rate, 1024, nullptr));
    ASSERT_NE(generator_, nullptr);
    manager_ = vl_rtp_sw_send_init();
    ASSERT_NE(manager_, nullptr);
  }
  void TearDown() override {
    if (stream_) vl_sendmgr_remove_stream(manager_, stream_);
    vl_rtp_sw_send_done(manager_);
    generator_.reset();
    vl_linuxptp_exit();
    vl_ptp_exit();
  }

  vltest::LogCapture log_;
  ptp4ltest::ScriptedPtp4lDir dir_;
  ptp4ltest::ScriptedPtp4l responder_{dir_.socket};
  std::unique_ptr<VlGeneratorRamp> generator_;
  VlSendmgr* manager_ = nullptr;
  VlStreamHandle stream_ = nullptr;
};

TEST_F(LinuxPtpRtp, TimestampsAreAheadOfTheSystemClockByTheTaiOffset) {
  rtp_test::LoopbackSocket peer;
  rtp_test::SdpOptions options;
  options.encoding = "L24/48000/1";
  options.port = peer.port();
  const vl_host_iface iface = rtp_test::loopback_interface();
  stream_ = vl_sendmgr_add_stream(manager_, &iface, rtp_test::sdp(options).c_str(),
                                  vl_mediadrv_audio_capture_ifc(generator_.get()), 0x11223344, 1, 48, 0);
  ASSERT_NE(stream_, nullptr);
  const int32_t channel[] = {0};
  VlChannelMapPtr map(vl_channel_map_ctor(channel, 1));
  vl_sendmgr_set_channel_map(manager_, stream_, map.get());

  // A packet leaves once its last frame is captured: its first frame is a
  // packet duration and some scheduling before the system clock's reading.
  constexpr int32_t tai_ticks = 37 * 48000;
  int packets = 0;
  for (auto p = peer.receive(1000); !p.empty() && packets < 20; p = peer.receive(1000), ++packets) {
    const uint32_t system_ts = vl_time_ns2ts(vl_realtime_ns(), rate);
    const auto ahead = static_cast<int32_t>(vl_rtp_get32(p.data() + 4) - system_ts);
    EXPECT_LE(ahead, tai_ticks);
    EXPECT_GT(ahead, tai_ticks - 96000);  // a loaded machine may deliver seconds late, never 37 s
  }
  EXPECT_EQ(packets, 20);
}

}  // namespace
