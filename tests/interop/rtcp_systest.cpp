// GStreamer's rtpbin as a receiver of streamerd's stream: it reports back,
// and it takes the sender reports' timing.
//
// streamerd sends a session's RTCP to the session's own address and port,
// beside the RTP packets, so rtpbin's RTCP goes there too.
#include "interop_lab.h"

#include "vltest/wait.h"

#include <csignal>
#include <regex>

namespace interop {
namespace {

// GStreamer's own SSRC and what it learnt from the sender reports, from the
// session statistics that gst-launch -v prints with every report it sends.
std::string gst_internal_ssrc(const std::string& output) {
  static const std::regex internal(R"(ssrc\\=\\\(uint\\\)(\d+)\\,\\ internal\\=\\\(boolean\\\)true)");
  std::smatch match;
  return std::regex_search(output, match, internal) ? match[1].str() : "";
}

class Rtpbin : public Lab {};

TEST_F(Rtpbin, ReportsBackAndTakesTheSenderReportsTiming) {
  if (!have_program("gst-launch-1.0")) GTEST_SKIP() << missing_peer("gst-launch-1.0");
  const std::string iface = std::string("multicast-iface=") + NetLab::link_device[NetLab::B];
  vltest::Process rtpbin(joined_command(
      lab_, NetLab::B,
      {"gst-launch-1.0", "-v", "rtpbin", "name=rb", "sdes=application/x-rtp-source-sdes,cname=(string)gst-peer",
       "udpsrc", std::string("address=") + group, std::string("port=") + port, iface,
       "caps=application/x-rtp,media=audio,clock-rate=48000,encoding-name=L24,channels=2,payload=98", "!",
       "rb.recv_rtp_sink_0", "rb.send_rtcp_src_0", "!", "udpsink", std::string("host=") + group,
       std::string("port=") + port, iface, "loop=false", "sync=false", "async=false", "rb.", "!", "rtpL24depay", "!",
       "fakesink", "sync=false"}));
  ASSERT_TRUE(rtpbin.wait_for_output("Setting pipeline to PLAYING", 20s)) << rtpbin.output();
  send_ramp(file("stream.sdp"));

  const auto gst_peer = [&] {
    const VlJsonRef peers = sender_peers();
    std::size_t index = 0;
    json_t* peer = nullptr;
    json_array_foreach(peers.get(), index, peer) {
      const char* cname = json_string_value(json_object_get(peer, "rtcp_cname"));
      if (cname && std::string(cname) == "gst-peer") return VlJsonRef::borrow(peer);
    }
    return VlJsonRef();
  };
  VlJsonRef peer;
  EXPECT_TRUE(vltest::wait_until([&] { return (peer = gst_peer()).get() != nullptr; }, 20s, 500ms));
  // The statistics gst-launch prints with each report rtpbin sends: once a
  // sender report arrived, they hold its NTP and RTP times.
  static const std::regex took_sr(R"(have-sr\\=\\\(boolean\\\)true\\,\\ sr-ntptime\\=\\\(guint64\\\)\d+)"
                                  R"(\\,\\ sr-rtptime\\=\\\(uint\\\)[1-9])");
  EXPECT_TRUE(rtpbin.wait_for_output(
      [](const std::string& out) { return std::regex_search(out, took_sr) && !gst_internal_ssrc(out).empty(); }, 30s))
      << "rtpbin never took a sender report";
  const std::string ssrc = gst_internal_ssrc(rtpbin.output());
  ASSERT_FALSE(ssrc.empty()) << rtpbin.output().substr(0, 4000);
  EXPECT_EQ(std::to_string(json_integer_value(json_object_get(peer.get(), "rtcp_reporter_ssrc"))), ssrc);
  rtpbin.signal(SIGINT);
  EXPECT_EQ(rtpbin.wait_exit(10s), 0);
}

}  // namespace
}  // namespace interop
