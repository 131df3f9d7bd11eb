// streamerd sends, GStreamer and ffmpeg receive into raw files: the ramp
// generator's channels each carry a ramp of their own (channel c runs c x
// 4096 frames ahead, with c in the third byte), so that every byte, the
// channel order and any gap show in what the peer wrote.
#include "interop_lab.h"

#include "vltest/wait.h"

#include "generator_analyzer/generator_ramp.h"

#include <csignal>
#include <filesystem>

namespace interop {
namespace {

struct Case {
  const char* peer;  // "gst-launch-1.0" or "ffmpeg"
  const char* encoding;
  int channels;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.peer << " " << c.encoding << "/" << c.channels; }

std::string case_name(const ::testing::TestParamInfo<Case>& info) {
  return std::string(info.param.peer[0] == 'g' ? "GStreamer" : "Ffmpeg") + info.param.encoding + "x" +
         std::to_string(info.param.channels);
}

// GStreamer's depayloaders give 8 channels the first RTP channel order it
// knows for 8 ("DV.LRCWoLsRsLmixRmix": L R C LFE Ls Rs Lmix Rmix, positions
// FL FR FC LFE1 SL SR RL RR) and then sort the positions into GStreamer's
// own order (FL FR FC LFE1 RL RR SL SR). Output channel i is stream channel
// gstreamer_order[i]; other channel counts keep the stream's order.
int stream_channel(const Case& c, int output_channel) {
  static constexpr int gstreamer_order[8] = {0, 1, 2, 3, 6, 7, 4, 5};
  return c.peer[0] == 'g' && c.channels == 8 ? gstreamer_order[output_channel] : output_channel;
}

std::vector<std::string> peer_command(const Case& c, const std::string& sdp_file, const std::string& out) {
  const std::string bits = c.encoding == std::string("L16") ? "16" : "24";
  if (c.peer[0] == 'g') {
    return {"gst-launch-1.0", "-e", "udpsrc", "address=" + std::string(group), "port=" + std::string(port),
            "multicast-iface=" + std::string(NetLab::link_device[NetLab::B]),
            "caps=application/x-rtp,media=audio,clock-rate=48000,encoding-name=" + std::string(c.encoding) +
                ",channels=" + std::to_string(c.channels) + ",payload=98",
            "!", "rtp" + std::string(c.encoding) + "depay", "!", "filesink", "location=" + out};
  }
  return {"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-y", "-protocol_whitelist", "file,udp,rtp",
          "-i", sdp_file, "-c:a", "pcm_s" + bits + "be", "-f", "s" + bits + "be", out};
}

class StreamerdToPeer : public Lab, public ::testing::WithParamInterface<Case> {};

TEST_P(StreamerdToPeer, ReceivesEverySampleOfEveryChannelInOrder) {
  const Case c = GetParam();
  if (!have_program(c.peer)) GTEST_SKIP() << missing_peer(c.peer);
  const int bytes = c.encoding == std::string("L16") ? 2 : 3;
  const std::string sdp_file = file("stream.sdp");
  const std::string out = file("peer.raw");
  write_file(sdp_file, sdp(NetLab::A, c.encoding, c.channels));
  reserve_ramp(NetLab::A, c.channels);
  ctl(NetLab::A, {"session", "add", group, port, NetLab::link_device[NetLab::A]});

  vltest::Process peer(joined_command(lab_, NetLab::B, peer_command(c, sdp_file, out)));
  ctl(NetLab::A, {"send", "add", group, port, "GeneratorRamp", "--sdp", sdp_file, "--map", identity_map(c.channels)});
  const std::size_t frame_bytes = static_cast<std::size_t>(bytes * c.channels);
  const std::size_t wanted = frame_bytes * rate;  // a second
  const auto size = [&] {
    std::error_code error;
    const auto n = std::filesystem::file_size(out, error);
    return error ? 0 : n;
  };
  EXPECT_TRUE(vltest::wait_until([&] { return size() >= wanted; }, 30s, 20ms));
  peer.signal(SIGINT);
  // ffmpeg ends with 255 when interrupted, GStreamer (-e) with 0.
  const int status = peer.wait_exit(15s);
  EXPECT_TRUE(status == 0 || (status == 255 && c.peer[0] == 'f')) << status << ": " << peer.output();

  const std::string raw = read_file(out);
  ASSERT_GE(raw.size(), wanted);
  const std::size_t frames = raw.size() / frame_bytes;
  // The stream sends silence until its channel map arrives, a request after
  // the one that adds it; no frame of the ramp is silent in every channel.
  const auto silent = [&](std::size_t k) {
    return raw.find_first_not_of('\0', k * frame_bytes) >= (k + 1) * frame_bytes;
  };
  std::size_t start = 0;
  while (start < frames && silent(start)) ++start;
  ASSERT_LT(start + rate / 2, frames) << "less than half a second of sound";
  // The ramp's upper 16 bits are the media timestamp; the first sounding
  // frame fixes where the peer started.
  const uint32_t first = static_cast<uint32_t>(get_be(raw, start * frame_bytes, bytes)) >> (8 * bytes - 16);
  std::size_t wrong = 0;
  for (std::size_t k = start; k < frames; ++k) {
    for (int out_channel = 0; out_channel < c.channels; ++out_channel) {
      const auto channel = static_cast<uint32_t>(stream_channel(c, out_channel));
      const uint32_t media_ts = first + static_cast<uint32_t>(k - start) + channel * vl_generator_ramp_channel_step;
      const uint32_t ramp = (media_ts & 0xffff) << 16 | channel << 8;
      const auto expected = static_cast<int32_t>(ramp) >> (32 - 8 * bytes);
      const int32_t got = get_be(raw, k * frame_bytes + static_cast<std::size_t>(out_channel * bytes), bytes);
      if (got != expected && ++wrong <= 3)
        ADD_FAILURE() << "frame " << k << " channel " << out_channel << ": " << got << " instead of " << expected;
    }
  }
  EXPECT_EQ(wrong, 0u) << "of " << frames << " frames";
}

INSTANTIATE_TEST_SUITE_P(Peers, StreamerdToPeer,
                         ::testing::Values(Case{"gst-launch-1.0", "L16", 2}, Case{"gst-launch-1.0", "L16", 8},
                                           Case{"gst-launch-1.0", "L24", 2}, Case{"gst-launch-1.0", "L24", 8},
                                           Case{"ffmpeg", "L16", 2}, Case{"ffmpeg", "L16", 8},
                                           Case{"ffmpeg", "L24", 2}, Case{"ffmpeg", "L24", 8}),
                         case_name);

}  // namespace
}  // namespace interop
