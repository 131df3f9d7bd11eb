// What streamerd puts on the wire, seen by tshark: a capture of a session
// between two daemons in the lab, dissected as RTP and RTCP. It runs for a
// report interval and more, so it is left out of the sanitizer run.
//
// streamerd sends a session's RTCP to the session's own address and port,
// beside the RTP packets, so one decode-as rule covers both.
#include "interop_lab.h"

#include "vltest/wait.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <sstream>

namespace interop {
namespace {

// One dissected packet: the fields asked of tshark, in this order.
struct Packet {
  double time = 0;  // capture time, seconds since the epoch
  std::string source;
  std::string rtp_version, payload_type;
  uint32_t seq = 0, timestamp = 0;
  std::string rtcp_types;  // "200,202": the compound's packet types
  std::string sdes_types, sdes_texts;
  bool malformed = false;
};

const std::vector<std::string> fields = {"frame.time_epoch", "ip.src",          "rtp.version",    "rtp.p_type",
                                         "rtp.seq",          "rtp.timestamp",   "rtcp.pt",        "rtcp.sdes.type",
                                         "rtcp.sdes.text",   "_ws.malformed"};

// `finished`: the capture has ended, so tshark must read it without fault.
std::vector<Packet> dissect(const std::string& capture, bool finished = true) {
  // Through the shell, which finds tshark on PATH and drops its warnings.
  std::vector<std::string> argv{"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>/dev/null", "tshark", "-r", capture,
                                "-d", std::string("udp.port==") + port + ",rtp",
                                "-T",     "fields",     "-E", "separator=|", "-E", "aggregator=,"};
  for (const std::string& field : fields) argv.insert(argv.end(), {"-e", field});
  const vltest::ProcessResult result = vltest::run_process(argv, 60s);
  if (finished) {
    EXPECT_EQ(result.status, 0) << result.output;
  }
  std::vector<Packet> packets;
  std::stringstream lines(result.output);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> f;
    std::stringstream cells(line);
    std::string cell;
    while (std::getline(cells, cell, '|')) f.push_back(cell);
    f.resize(fields.size());
    if (f[0].empty() || !std::isdigit(static_cast<unsigned char>(f[0][0]))) continue;
    Packet p;
    p.time = std::stod(f[0]);
    p.source = f[1];
    p.rtp_version = f[2];
    p.payload_type = f[3];
    if (!f[4].empty()) p.seq = static_cast<uint32_t>(std::stoul(f[4]));
    if (!f[5].empty()) p.timestamp = static_cast<uint32_t>(std::stoul(f[5]));
    p.rtcp_types = f[6];
    p.sdes_types = f[7];
    p.sdes_texts = f[8];
    p.malformed = !f[9].empty();
    packets.push_back(p);
  }
  return packets;
}

// How long after its first sample's media time a packet was seen, in ms:
// the daemon runs on the system clock with a TAI offset of 0 and sync time
// 0, so the media time of timestamp t is the one where t = (time x 48000)
// mod 2^32.
double lag_ms(const Packet& p) {
  const double media_now = std::fmod(p.time * rate, 4294967296.0);
  double lag = media_now - p.timestamp;
  if (lag > 2147483648.0) lag -= 4294967296.0;
  if (lag < -2147483648.0) lag += 4294967296.0;
  return lag * 1000 / rate;
}

class Capture : public Lab {
 protected:
  // tshark capturing the session's port in host B, once it runs.
  std::unique_ptr<vltest::Process> start_capture(const std::string& file) {
    auto tshark = std::make_unique<vltest::Process>(
        joined_command(lab_, NetLab::B,
                       {"tshark", "-i", NetLab::link_device[NetLab::B], "-f", std::string("udp port ") + port, "-w",
                        file}));
    EXPECT_TRUE(tshark->wait_for_output("Capturing on", 30s)) << tshark->output();
    return tshark;
  }
};

TEST_F(Capture, TsharkDissectsTheSessionAsRtpAndRtcpAsAes67AsksIt) {
  if (!have_program("tshark")) GTEST_SKIP() << missing_peer("tshark");
  ASSERT_TRUE(start_daemon(NetLab::B));
  const std::string capture = file("session.pcap");
  auto tshark = start_capture(capture);
  const std::string sdp_file = file("stream.sdp");
  send_ramp(sdp_file);
  ctl(NetLab::B, {"audio", "reserve", "AnalyzerRamp"});
  ctl(NetLab::B, {"session", "add", group, port, NetLab::link_device[NetLab::B]});
  ctl(NetLab::B, {"receive", "add", group, port, "AnalyzerRamp", "--sdp", sdp_file, "--map", "0,-1"});
  // The receiver's first report comes a report interval after it started.
  EXPECT_TRUE(vltest::wait_until([&] { return json_array_size(sender_peers().get()) > 0; }, 20s, 500ms));
  ctl(NetLab::A, {"stream", "del", group, port, "snd"});  // the last report, with BYE
  ctl(NetLab::B, {"stream", "del", group, port, "rcv"});
  // The capture delivers packets in batches: stop it once the BYE is in.
  const auto bye_captured = [&] {
    for (const Packet& p : dissect(capture, false))
      if (p.rtcp_types.find("203") != std::string::npos) return true;
    return false;
  };
  EXPECT_TRUE(vltest::wait_until(bye_captured, 15s, 500ms));
  tshark->signal(SIGINT);
  ASSERT_EQ(tshark->wait_exit(20s), 0) << tshark->output();

  const std::vector<Packet> packets = dissect(capture);
  const std::string a = NetLab::link_address[NetLab::A];
  std::vector<Packet> rtp;
  std::vector<std::string> sender_reports, receiver_reports;
  for (const Packet& p : packets) {
    EXPECT_FALSE(p.malformed) << "packet at " << p.time;
    if (!p.rtp_version.empty()) {
      EXPECT_EQ(p.source, a);
      rtp.push_back(p);
    } else if (!p.rtcp_types.empty()) {
      (p.source == a ? sender_reports : receiver_reports).push_back(p.rtcp_types);
      // Every compound carries an SDES with the CNAME (item type 1).
      EXPECT_TRUE(has_prefix(p.sdes_types, "1")) << p.rtcp_types;
      EXPECT_FALSE(p.sdes_texts.empty()) << p.rtcp_types;
    }
  }
  ASSERT_GT(rtp.size(), 4000u);
  for (std::size_t i = 0; i < rtp.size(); ++i) {
    EXPECT_EQ(rtp[i].rtp_version, "2");
    EXPECT_EQ(rtp[i].payload_type, "98");
    if (i == 0) continue;
    EXPECT_EQ(rtp[i].seq, (rtp[i - 1].seq + 1) & 0xffff) << "packet " << i;
    EXPECT_EQ(rtp[i].timestamp, rtp[i - 1].timestamp + frames_per_packet) << "packet " << i;
  }
  // A packet leaves once its last sample exists: never before its first
  // sample's time, and a packet time (1 ms) or a little more after it.
  // Scheduling may hold a few back on a busy machine.
  std::vector<double> lags;
  for (const Packet& p : rtp) lags.push_back(lag_ms(p));
  std::sort(lags.begin(), lags.end());
  EXPECT_GE(lags.front(), -0.5);
  EXPECT_LE(lags[lags.size() * 95 / 100], 2.0) << "median " << lags[lags.size() / 2] << " ms";

  // At once (an RR until the first packet is out), every 5 s, and the last
  // one, with BYE, when the sender goes.
  std::string sent;
  for (const std::string& types : sender_reports) sent += types + " ";
  ASSERT_GE(sender_reports.size(), 3u) << sent;
  EXPECT_TRUE(sender_reports.front() == "201,202" || sender_reports.front() == "200,202") << sent;
  for (std::size_t i = 1; i + 1 < sender_reports.size(); ++i) EXPECT_EQ(sender_reports[i], "200,202") << sent;
  EXPECT_EQ(sender_reports.back(), "200,202,203") << sent;
  ASSERT_GE(receiver_reports.size(), 1u);
  for (const std::string& types : receiver_reports) EXPECT_EQ(types, "201,202");
}

}  // namespace
}  // namespace interop
