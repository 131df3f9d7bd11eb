// GStreamer and ffmpeg send known samples in 1 ms packets; streamerd
// receives them into the file analyzer, a mono stream as it is and a stereo
// one through a channel map that picks its second channel. The file must
// hold exactly the picked channel's samples, in order.
#include "interop_lab.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace interop {
namespace {

constexpr int sent_frames = rate;  // a second

struct Case {
  const char* peer;  // "gst-launch-1.0" or "ffmpeg"
  const char* encoding;
  int channels;  // 1: map "0"; 2: map "-1,0", the second channel
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.peer << " " << c.encoding << "/" << c.channels; }

std::string case_name(const ::testing::TestParamInfo<Case>& info) {
  return std::string(info.param.peer[0] == 'g' ? "GStreamer" : "Ffmpeg") + info.param.encoding +
         (info.param.channels == 1 ? "Mono" : "StereoSecondChannel");
}

int sample_bytes(const Case& c) { return c.encoding == std::string("L16") ? 2 : 3; }

// Never zero, so that the silence around the stream stands apart; the
// channels differ in sign.
int32_t sample(const Case& c, int frame, int channel) {
  const int32_t base = frame % 30000 + 1;
  const int32_t value = sample_bytes(c) == 2 ? base : base * 256 + frame % 251;
  return channel == 0 ? value : -value;
}

std::string input(const Case& c) {
  std::string raw;
  for (int k = 0; k < sent_frames; ++k)
    for (int channel = 0; channel < c.channels; ++channel) put_be(raw, sample(c, k, channel), sample_bytes(c));
  return raw;
}

// The SDP a GStreamer user writes for the pipeline below.
std::string gstreamer_sdp(const Case& c) {
  return std::string("v=0\r\no=- 1 1 IN IP4 ") + NetLab::link_address[NetLab::B] + "\r\ns=GStreamer\r\nc=IN IP4 " +
         group + "/32\r\nt=0 0\r\nm=audio " + port + " RTP/AVP 96\r\na=rtpmap:96 " + c.encoding + "/48000/" +
         std::to_string(c.channels) + "\r\na=ptime:1\r\n";
}

std::vector<std::string> gstreamer_sender(const Case& c, const std::string& in) {
  return {"gst-launch-1.0", "-q", "filesrc", "location=" + in, "!", "rawaudioparse", "format=pcm",
          std::string("pcm-format=") + (sample_bytes(c) == 2 ? "s16be" : "s24be"), "sample-rate=48000",
          "num-channels=" + std::to_string(c.channels), "!", "rtp" + std::string(c.encoding) + "pay",
          "min-ptime=1000000", "max-ptime=1000000", "pt=96", "!", "udpsink", "host=" + std::string(group),
          "port=" + std::string(port), "multicast-iface=" + std::string(NetLab::link_device[NetLab::B])};
}

// ffmpeg in real time, 48 frames per packet; `seconds` limits the run.
std::vector<std::string> ffmpeg_sender(const Case& c, const std::string& in, const std::string& sdp_file,
                                       const char* seconds) {
  const std::string format = sample_bytes(c) == 2 ? "s16be" : "s24be";
  std::vector<std::string> argv{"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-re", "-f", format,
                                "-ar", "48000", "-ac", std::to_string(c.channels), "-i", in};
  if (seconds) argv.insert(argv.end(), {"-t", seconds});
  argv.insert(argv.end(), {"-af", "asetnsamples=n=48:p=0", "-c:a", "pcm_" + format, "-f", "rtp", "-sdp_file",
                           sdp_file,
                           "rtp://" + std::string(group) + ":" + port + "?localaddr=" +
                               NetLab::link_address[NetLab::B] + "&ttl=1"});
  return argv;
}

class PeerToStreamerd : public Lab, public ::testing::WithParamInterface<Case> {
 protected:
  // The peer's run; its output when it fails.
  void run_peer(const std::vector<std::string>& argv) {
    const vltest::ProcessResult result = vltest::run_process(joined_command(lab_, NetLab::B, argv), 30s);
    EXPECT_EQ(result.status, 0) << result.output;
  }
};

TEST_P(PeerToStreamerd, TheFileAnalyzerHoldsExactlyTheSentSamples) {
  const Case c = GetParam();
  if (!have_program(c.peer)) GTEST_SKIP() << missing_peer(c.peer);
  const std::string in = file("sent.raw");
  const std::string sdp_file = file("peer.sdp");
  write_file(in, input(c));
  if (c.peer[0] == 'g') {
    write_file(sdp_file, gstreamer_sdp(c));
  } else {
    // ffmpeg writes its SDP as it starts: a short run before the receiver
    // exists gives the record, which the receiver then takes as it is.
    run_peer(ffmpeg_sender(c, in, sdp_file, "0.01"));
  }
  reserve_file_analyzer(NetLab::A);
  ctl(NetLab::A, {"session", "add", group, port, NetLab::link_device[NetLab::A]});
  ctl(NetLab::A, {"receive", "add", group, port, "AnalyzerFile", "--sdp", sdp_file, "--map",
                  c.channels == 1 ? "0" : "-1,0"});

  run_peer(c.peer[0] == 'g' ? gstreamer_sender(c, in) : ffmpeg_sender(c, in, file("again.sdp"), nullptr));
  // Releasing the analyzer closes its file.
  ctl(NetLab::A, {"stream", "del", group, port, "rcv"});
  ctl(NetLab::A, {"audio", "release", "AnalyzerFile"});

  const std::string raw = read_file(daemons_[NetLab::A]->work_dir() + "/received.bin");
  std::vector<int32_t> received(raw.size() / 4);
  std::memcpy(received.data(), raw.data(), received.size() * 4);
  const auto first = std::find_if(received.begin(), received.end(), [](int32_t s) { return s != 0; });
  const auto last = std::find_if(received.rbegin(), received.rend(), [](int32_t s) { return s != 0; }).base();
  std::vector<int32_t> expected;
  const int picked = c.channels == 1 ? 0 : 1;
  for (int k = 0; k < sent_frames; ++k) expected.push_back(sample(c, k, picked) << (32 - 8 * sample_bytes(c)));
  const std::vector<int32_t> sounding(first, first < last ? last : first);
  ASSERT_EQ(sounding.size(), expected.size()) << raw.size() / 4 << " samples in the file";
  const auto differ = std::mismatch(sounding.begin(), sounding.end(), expected.begin());
  EXPECT_TRUE(differ.first == sounding.end())
      << "sample " << differ.first - sounding.begin() << ": " << *differ.first << " instead of " << *differ.second;
}

INSTANTIATE_TEST_SUITE_P(Peers, PeerToStreamerd,
                         ::testing::Values(Case{"gst-launch-1.0", "L16", 1}, Case{"gst-launch-1.0", "L16", 2},
                                           Case{"gst-launch-1.0", "L24", 1}, Case{"gst-launch-1.0", "L24", 2},
                                           Case{"ffmpeg", "L16", 1}, Case{"ffmpeg", "L16", 2},
                                           Case{"ffmpeg", "L24", 1}, Case{"ffmpeg", "L24", 2}),
                         case_name);

}  // namespace
}  // namespace interop
