// Interoperation with an independent SAP implementation: ffmpeg's SAP
// demuxer and muxer, run inside the lab's hosts.
#include "sap_lab.h"

#include "vltest/process.h"
#include "vltest/rtp_lab.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>


namespace {

using namespace saptest;

struct SapWithFfmpeg : ::testing::Test {
  void SetUp() override { ASSERT_EQ(access(ffmpeg_path, X_OK), 0) << "ffmpeg is missing: run scripts/setup.sh"; }
};

// A real L24 stream goes from the RTP sender in host A; the announcer in A
// announces its SDP; ffmpeg in B finds the stream through the announcement
// alone and decodes half a second of it.
TEST_F(SapWithFfmpeg, DemuxerPlaysTheAnnouncedStream) {
  rtp_lab::Lab rtp;
  ASSERT_TRUE(rtp.ok());
  rtp_lab::StreamOptions stream;
  stream.format = "L24";
  stream.channels = 2;
  rtp_lab::Stream* s = rtp.add(stream);
  ASSERT_TRUE(s);

  VlSapAnnouncerOptions options;
  options.interval = 500ms;
  options.bandwidth_limit_bps = 0;
  auto announcer = VlSapAnnouncer::create(options);
  ASSERT_NE(add_in(rtp.net(), NetLab::A, *announcer, stream_in_a(s->sdp)), 0U);

  vltest::Process ffmpeg(ffmpeg_in(rtp.net(), NetLab::B, ffmpeg_sap_play));
  ASSERT_EQ(ffmpeg.wait_exit(30s), 0) << ffmpeg.output();
  const std::string& out = ffmpeg.output();
  EXPECT_NE(out.find("Input #0, sap"), std::string::npos) << out;
  EXPECT_NE(out.find("Audio: pcm_s24be, 48000 Hz, stereo"), std::string::npos) << out;
  EXPECT_GE(ffmpeg_decoded_samples(out), 24000) << out;
}

// ffmpeg in host A sends a tone as L24 RTP and announces it to its default
// group; the directory in B lists it, and drops it at ffmpeg's deletion.
TEST_F(SapWithFfmpeg, MuxerAnnouncementIsListedAndDeleted) {
  NetLab lab;
  ASSERT_TRUE(lab.ok()) << lab.error();
  auto directory = directory_in(lab, NetLab::B, {lab_interface(NetLab::B)});
  ASSERT_TRUE(directory);

  vltest::Process ffmpeg(ffmpeg_in(lab, NetLab::A,
                                   "-re -f lavfi -i sine=frequency=1000:sample_rate=48000 -t 30 -ac 2 "
                                   "-c:a pcm_s24be -metadata title=\"Lab tone\" -f sap sap://239.1.2.3:5004?ttl=1"));
  ASSERT_TRUE(vltest::wait_until([&] { return directory->list().size() == 1; }, 10s)) << ffmpeg.output();
  const VlSapEntry e = directory->list().front();
  EXPECT_EQ(e.sap_origin, "198.18.0.1");
  EXPECT_EQ(e.interface, "veth1");
  EXPECT_EQ(e.announce_group, vl_sap_group_global);
  EXPECT_EQ(e.fields.session_name, "Lab tone");
  EXPECT_EQ(e.fields.group, "239.1.2.3");
  EXPECT_EQ(e.fields.port, 5004);
  EXPECT_EQ(e.fields.encoding, "L24/48000/2");
  EXPECT_EQ(e.fields.channels, 2);
  EXPECT_NE(e.sdp.find("m=audio 5004 RTP/AVP"), std::string::npos) << e.sdp;

  ffmpeg.signal(SIGTERM);
  EXPECT_TRUE(wait_gone(*directory, e.msg_id_hash, 5s)) << ffmpeg.output();
  EXPECT_EQ(directory->stats().deletions, 1U);
  EXPECT_NE(ffmpeg.wait_exit(10s), -1);
}

}  // namespace
