// Stream objects on a device in lab host A; what the streams send is read
// in host B.
#include "vl/vl_stream_receiver.h"
#include "vl/vl_stream_sender.h"

#include "rtp_sw/vl_rtp_packet.h"
#include "vl/vl_device.h"
#include "vltest/device_lab.h"
#include "vltest/log_capture.h"
#include "vltest/rtp_lab.h"
#include "vlutil/vl_json_ref.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Sender = std::unique_ptr<VlStreamSender, VlStreamDeleter>;
using Receiver = std::unique_ptr<VlStreamReceiver, VlStreamDeleter>;

constexpr const char* group = "239.77.1.1";
constexpr uint16_t port = 5010;
constexpr uint32_t channels = 8;

std::string sdp() {
  return "v=0\no=- 1 1 IN IP4 198.18.0.1\ns=Stream lab\nt=0 0\nm=audio " + std::to_string(port) +
         " RTP/AVP 98\nc=IN IP4 " + group + "/32\na=rtpmap:98 L24/48000/" + std::to_string(channels) +
         "\na=sync-time:0\na=framecount:48\n";
}

VlJsonRef parsed(const std::string& text) { return VlJsonRef(json_loads(text.c_str(), 0, nullptr)); }

class StreamLab : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lab_.ok()) << lab_.net().error();
    device_ = lab_.make_device(vltest::NetLab::A);
    ASSERT_NE(device_, nullptr);
    interface_ = device_->interfaces.get();
    ASSERT_NE(interface_->send_manager, nullptr);
    for (const char* name : {"GeneratorRamp", "AnalyzerRamp"}) ASSERT_NE(lab_.reserve(device_, name), nullptr) << name;
  }

  VlStreamSender* sender(uint8_t dscp = 34) {
    VlStreamSender* stream = nullptr;
    lab_.run_in(vltest::NetLab::A, [&] {
      stream = vl_stream_sender_ctor(interface_, sdp().c_str(), vl_device_audio_find(device_, "GeneratorRamp"),
                                     0x5EED, 0, 48, dscp);
    });
    return stream;
  }
  VlStreamSender* load_sender(const std::string& json) {
    VlStreamSender* stream = nullptr;
    const VlJsonRef stored = parsed(json);
    lab_.run_in(vltest::NetLab::A, [&] { stream = vl_stream_sender_load(device_, interface_, 0x5EED, stored.get()); });
    return stream;
  }
  // The next packet's channels that carry sound (non-zero first frame).
  std::string sounding_channels(rtp_lab::WireTap& tap) {
    const auto packet = tap.next(500);
    if (packet.size() < vl_rtp_header_size + channels * 3) return "no packet";
    std::string sounding;
    for (uint32_t c = 0; c < channels; ++c) {
      const uint8_t* sample = packet.data() + vl_rtp_header_size + 3 * c;
      sounding += (sample[0] | sample[1] | sample[2]) ? '1' : '0';
    }
    return sounding;
  }

  vltest::DeviceLab lab_;
  vltest::LogCapture log_;
  VlDevice* device_ = nullptr;
  VlNetworkInterface* interface_ = nullptr;
};

// The map the stream is given reaches the sender's codec: the generator's
// channel sounds in stream channel 2 only.
TEST_F(StreamLab, AChannelMapReachesThePackets) {
  rtp_lab::WireTap tap(lab_.net(), group, port);
  Sender stream(sender());
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(sounding_channels(tap), "00000000");  // unconnected as created

  const int32_t six[6] = {0, 0, 0, 0, 0, 0};
  VlChannelMapPtr wrong(vl_channel_map_ctor(six, 6));
  EXPECT_EQ(vl_stream_set_channel_map(stream.get(), wrong.get(), nullptr), -1);
  EXPECT_EQ(log_.count("Invalid channel map size. should: 8, is: 6"), 1);

  const int32_t entries[channels] = {-1, -1, 0, -1, -1, -1, -1, -1};
  VlChannelMapPtr map(vl_channel_map_ctor(entries, channels));
  ASSERT_EQ(vl_stream_set_channel_map(stream.get(), map.get(), nullptr), 0);
  std::string sounding;
  const auto deadline = std::chrono::steady_clock::now() + 2s;
  while (sounding != "00100000" && std::chrono::steady_clock::now() < deadline) sounding = sounding_channels(tap);
  EXPECT_EQ(sounding, "00100000");
  EXPECT_NE(vl_stream_sender_stat(stream.get()), nullptr);
}

// The control path refreshes the statistics while the RTCP thread encodes
// and updates them (the thread sanitizer run checks the locking).
TEST_F(StreamLab, StatisticsAreSharedWithTheRtcpThread) {
  Sender stream(sender());
  ASSERT_NE(stream, nullptr);
  std::thread rtcp([&] {
    const uint32_t block[vl_report_block_words] = {0x5EED, 0, 1, 2, 3, 4};
    for (int i = 0; i < 200; ++i) {
      vl_stream_update_receiver_info(stream.get(), 0xAAAA, block);
      VlJsonRef info(vl_stream_encode_info(stream.get()));
      VlSenderInfo copy{};
      vl_stream_sender_stat_copy(stream.get(), &copy);
    }
  });
  for (int i = 0; i < 200; ++i) vl_stream_sender_stat(stream.get());
  rtcp.join();
  VlJsonRef info(vl_stream_encode_info(stream.get()));
  EXPECT_EQ(json_array_size(json_object_get(info.get(), "rtcp_receiver_info")), 1u);
}

TEST_F(StreamLab, ConfiguredSendersTakeDefaultsAndNeedTheirMapAndPacketDuration) {
  const std::string base = R"("audio_device_name": "GeneratorRamp", "stream_sdp": ")" + sdp() + "\"";
  const std::string map = R"("stream_channelmap": [0, -1, -1, -1, -1, -1, -1, -1])";
  const std::string duration = R"("stream_packetduration": 48)";
  struct Case {
    std::string json;
    int dscp;  // -1: not created
  } cases[] = {
      {"{" + base + ", " + map + ", " + duration + "}", 46},
      {"{" + base + ", " + map + ", " + duration + R"(, "stream_dscp": 0})", 46},
      {"{" + base + ", " + map + ", " + duration + R"(, "stream_dscp": 34})", 34},
      {"{" + base + ", " + duration + "}", -1},
      {"{" + base + ", " + map + "}", -1},
  };
  for (Case& c : cases) {
    std::string json = c.json;
    for (std::size_t at = json.find('\n'); at != std::string::npos; at = json.find('\n', at)) json.replace(at, 1, "\\n");
    Sender stream(load_sender(json));
    EXPECT_EQ(stream ? vl_stream_sender_dscp(stream.get()) : -1, c.dscp) << json;
  }
  EXPECT_EQ(log_.count("Could not create stream sender!"), 1);  // the one without a packet duration
}

TEST_F(StreamLab, AReceiverPlaysIntoItsAnalyzer) {
  Receiver stream;
  lab_.run_in(vltest::NetLab::A, [&] {
    stream.reset(vl_stream_receiver_ctor(interface_, sdp().c_str(), vl_device_audio_find(device_, "AnalyzerRamp"), 96));
  });
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(vl_stream_receiver_stat(stream.get()), nullptr);  // nothing received yet
  EXPECT_EQ(vl_stream_receiver_stat(stream.get()), nullptr);
  EXPECT_EQ(log_.count("RTCP info not available for stream 239.77.1.1:5010"), 1);
}

}  // namespace
