// The real streamerctl binary, run in lab hosts against live daemons (and a
// scripted one for events, which a daemon does not publish by itself).
#include "sap_lab.h"
#include "vltest/daemon.h"
#include "vltest/device_description.h"
#include "vltest/scripted_daemon.h"
#include "vltest/temp_dir.h"
#include "vltest/wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using vltest::NetLab;

constexpr const char* group = "239.77.2.1";
constexpr const char* port = "5004";

// streamerctl in `host`, its standard error joined to its output.
std::vector<std::string> ctl_command(const NetLab& lab, NetLab::Host host, const std::vector<std::string>& args) {
  std::vector<std::string> argv{"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", STREAMERCTL_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return lab.command(host, argv);
}

vltest::ProcessResult ctl(const NetLab& lab, NetLab::Host host, const std::vector<std::string>& args) {
  return vltest::run_process(ctl_command(lab, host, args), 30s);
}

VlJsonRef parsed(const std::string& text) { return VlJsonRef(json_loads(text.c_str(), JSON_DECODE_ANY, nullptr)); }

class TwoDaemons : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lab_.ok()) << lab_.error();
    for (NetLab::Host host : {NetLab::A, NetLab::B}) {
      daemons_[host] = std::make_unique<vltest::Daemon>(lab_, host, STREAMERD_PATH);
      ASSERT_TRUE(daemons_[host]->wait_started()) << daemons_[host]->process().output();
    }
  }
  // streamerctl in the other host, driving the daemon of `host`.
  vltest::ProcessResult on(NetLab::Host host, std::vector<std::string> args) {
    args.insert(args.begin(), {"--host", NetLab::link_address[host]});
    return ctl(lab_, host == NetLab::A ? NetLab::B : NetLab::A, args);
  }
  void expect_ok(NetLab::Host host, const std::vector<std::string>& args) {
    const vltest::ProcessResult result = on(host, args);
    EXPECT_EQ(result.status, 0) << args[0] << " " << args[1] << ": " << result.output;
  }
  json_int_t received_packets() {
    const VlJsonRef info = parsed(on(NetLab::B, {"--json", "info"}).output);
    const json_t* receiver = json_object_get(json_array_get(json_object_get(info.get(), "session_info_list"), 0),
                                             "session_receiver_info");
    return json_integer_value(json_object_get(json_object_get(receiver, "rtcp_sender_info"), "rtcp_psend"));
  }

  NetLab lab_;
  std::unique_ptr<vltest::Daemon> daemons_[2];
  vltest::TempDir files_;
};

// Ramp generator in A, ramp analyzer in B, everything through streamerctl.
// The analyzer's mismatch count does not travel over the protocol; the
// daemon prints it when the analyzer is released: one mismatch (the ramp's
// start, before the offset is known) means every sample arrived in place.
TEST_F(TwoDaemons, ASenderAndAReceiverSetUpAndTornDownStreamSampleExact) {
  const std::string sdp_file = files_.path() + "/stream.sdp";
  const vltest::ProcessResult sdp = ctl(lab_, NetLab::A, {"sdp", "--source", NetLab::link_address[NetLab::A],
                                                          "--group", group, "--port", port, "--channels", "2",
                                                          "--frames", "48"});
  ASSERT_EQ(sdp.status, 0) << sdp.output;
  std::ofstream(sdp_file) << sdp.output;

  expect_ok(NetLab::A, {"audio", "reserve", "GeneratorRamp"});
  expect_ok(NetLab::A, {"session", "add", group, port, "veth0"});
  expect_ok(NetLab::A, {"send", "add", group, port, "GeneratorRamp", "--sdp", sdp_file, "--map", "0,-1"});
  expect_ok(NetLab::B, {"audio", "reserve", "AnalyzerRamp"});
  expect_ok(NetLab::B, {"session", "add", group, port, "veth1"});
  expect_ok(NetLab::B, {"receive", "add", group, port, "AnalyzerRamp", "--sdp", sdp_file, "--map", "0,-1"});

  const VlJsonRef sessions = parsed(on(NetLab::B, {"--json", "sessions"}).output);
  ASSERT_EQ(json_array_size(sessions.get()), 1u);
  EXPECT_STREQ(json_string_value(json_object_get(
                   json_object_get(json_array_get(sessions.get(), 0), "session_receiver"), "audio_device_name")),
               "AnalyzerRamp");
  // RTCP reports every five seconds; two sender reports show the stream flowing.
  ASSERT_TRUE(vltest::wait_until([&] { return received_packets() > 48000 / 48; }, 20s, 500ms));

  expect_ok(NetLab::B, {"stream", "del", group, port, "rcv"});
  expect_ok(NetLab::B, {"session", "del", group, port});
  expect_ok(NetLab::B, {"audio", "release", "AnalyzerRamp"});
  expect_ok(NetLab::A, {"stream", "del", group, port, "snd"});
  expect_ok(NetLab::A, {"session", "del", group, port});
  expect_ok(NetLab::A, {"audio", "release", "GeneratorRamp"});

  EXPECT_TRUE(daemons_[NetLab::B]->process().wait_for_output("vl_analyzer_ramp_dtor found 1 mismatches\n", 5s))
      << daemons_[NetLab::B]->process().output();
  for (NetLab::Host host : {NetLab::A, NetLab::B}) {
    const VlJsonRef status = parsed(on(host, {"status", "--json"}).output);
    EXPECT_EQ(json_array_size(json_object_get(status.get(), "session_list")), 0u);
  }
}

TEST_F(TwoDaemons, FailuresExitNonZeroWithTheDaemonsText) {
  const struct {
    std::vector<std::string> args;
    std::string text;
  } cases[] = {
      {{"audio", "release", "NoSuchDevice"}, "Requested audio device not found."},
      {{"session", "add", group, port, "nosuchif0"}, "Could not create new session!"},
      {{"config", "load", "never-saved"}, "Could not get requested value for key: never-saved!"},
  };
  for (const auto& c : cases) {
    const vltest::ProcessResult result = on(NetLab::A, c.args);
    EXPECT_NE(result.status, 0) << c.text;
    EXPECT_EQ(result.output, "streamerctl: " + c.text + "\n");
  }
}

TEST_F(TwoDaemons, NoDaemonOrASilentOneGivesAClearMessageWithinTheTimeLimit) {
  daemons_[NetLab::B]->stop();
  const vltest::ProcessResult refused = on(NetLab::B, {"status"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.output, "streamerctl: no daemon answers at 198.18.0.2:42538 (Connection refused)\n");

  daemons_[NetLab::A]->process().signal(SIGSTOP);
  const auto start = std::chrono::steady_clock::now();
  const vltest::ProcessResult silent = on(NetLab::A, {"--timeout", "1", "status"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_EQ(silent.status, 1);
  EXPECT_EQ(silent.output, "streamerctl: the daemon at 198.18.0.1 did not answer 'init' within 1 s\n");
  daemons_[NetLab::A]->process().signal(SIGCONT);
}

// Events the daemon pushes are printed as local ids (daemon id + 200) until
// SIGINT, which also takes the subscription back.
TEST(StreamerctlEvents, ArePrintedUntilInterrupted) {
  NetLab lab;
  ASSERT_TRUE(lab.ok()) << lab.error();
  vltest::ScriptedDaemon daemon;
  daemon.script = [](json_int_t command) {
    if (command == 1) return vltest::Frames{vltest::response(1, vltest::device_description())};
    if (command == 22) return vltest::Frames{vltest::response(22, "{}"), vltest::event(5, R"({"level": 3})")};
    return vltest::Frames{vltest::response(command, "{}")};
  };
  ASSERT_TRUE(daemon.start(lab, NetLab::A, NetLab::link_address[NetLab::A]));
  vltest::Process events(ctl_command(lab, NetLab::B, {"--host", NetLab::link_address[NetLab::A], "events", "205"}));
  ASSERT_TRUE(events.wait_for_output("event 205: {\"level\":3}\n", 10s)) << events.output();
  events.signal(SIGINT);
  EXPECT_EQ(events.wait_exit(5s), 0) << events.output();
  EXPECT_EQ(daemon.commands(), (std::vector<json_int_t>{1, 22, 23}));
}

// The record's reference clock names the grandmaster the daemon follows.
TEST(StreamerctlSdp, TakesTheReferenceClockFromTheDaemonsPtpStatus) {
  NetLab lab;
  ASSERT_TRUE(lab.ok()) << lab.error();
  vltest::ScriptedDaemon daemon;
  daemon.script = [](json_int_t command) {
    return vltest::Frames{vltest::response(
        command, vltest::device_description(R"({"ptp_domain": 5, "ptp_gm_id": "00-1D-C1-FF-FE-12-34-56"})"))};
  };
  ASSERT_TRUE(daemon.start(lab, NetLab::A, NetLab::link_address[NetLab::A]));
  const vltest::ProcessResult sdp =
      ctl(lab, NetLab::B, {"--host", NetLab::link_address[NetLab::A], "sdp", "--source", "198.18.0.1", "--group",
                           group, "--clock-from-daemon"});
  ASSERT_EQ(sdp.status, 0) << sdp.output;
  EXPECT_NE(sdp.output.find("a=ts-refclk:ptp=IEEE1588-2008:00-1D-C1-FF-FE-12-34-56:5\n"), std::string::npos)
      << sdp.output;
}

}  // namespace

namespace {

// SAP: what one daemon announces, the other lists (and ffmpeg plays); what
// ffmpeg announces, a daemon lists and receives. The announcer's and the
// directory's own rules (intervals, time-outs, each kind of bad packet) are
// shown by the SAP library's lab tests.
class Discovery : public TwoDaemons {
 protected:
  // The entries `host`'s daemon lists.
  VlJsonRef discovered(NetLab::Host host) {
    const VlJsonRef result = parsed(on(host, {"--json", "discover"}).output);
    return VlJsonRef::borrow(json_object_get(result.get(), "sap_list"));
  }
  // The entry named `name`, or null.
  VlJsonRef entry(NetLab::Host host, const std::string& name) {
    const VlJsonRef list = discovered(host);
    std::size_t index = 0;
    json_t* e = nullptr;
    json_array_foreach(list.get(), index, e) {
      if (name == json_string_value(json_object_get(e, "sap_session_name"))) return VlJsonRef::borrow(e);
    }
    return VlJsonRef();
  }
  bool listed(NetLab::Host host, const std::string& name, bool wanted = true, std::chrono::milliseconds limit = 10s) {
    return vltest::wait_until([&] { return static_cast<bool>(entry(host, name)) == wanted; }, limit, 200ms);
  }
  // A ramp sender of two channels in A, announced as "Lab ramp".
  void send_ramp_from_a() {
    expect_ok(NetLab::A, {"audio", "reserve", "GeneratorRamp"});
    expect_ok(NetLab::A, {"session", "add", group, port, "veth0"});
    expect_ok(NetLab::A, {"send", "add", group, port, "GeneratorRamp", "--name", "Lab ramp", "--channels", "2",
                          "--frames", "48"});
  }
  json_int_t sender_announced(NetLab::Host host) {
    const VlJsonRef sessions = parsed(on(host, {"--json", "sessions"}).output);
    const json_t* sender = json_object_get(json_array_get(sessions.get(), 0), "session_sender");
    const json_t* flag = json_object_get(sender, "stream_sap");
    return json_is_integer(flag) ? json_integer_value(flag) : -1;
  }
};

TEST_F(Discovery, AnnouncedSenderIsListedUntilWithdrawnAndItsSwitchIsSaved) {
  send_ramp_from_a();
  ASSERT_TRUE(listed(NetLab::B, "Lab ramp"));
  const VlJsonRef e = entry(NetLab::B, "Lab ramp");
  EXPECT_STREQ(json_string_value(json_object_get(e.get(), "sap_origin")), NetLab::link_address[NetLab::A]);
  EXPECT_STREQ(json_string_value(json_object_get(e.get(), "sap_group")), group);
  EXPECT_EQ(json_integer_value(json_object_get(e.get(), "sap_port")), 5004);
  EXPECT_STREQ(json_string_value(json_object_get(e.get(), "sap_encoding")), "L24/48000/2");
  EXPECT_STREQ(json_string_value(json_object_get(e.get(), "sap_interface")), "veth1");
  const std::string table = on(NetLab::B, {"discover"}).output;
  EXPECT_EQ(table.rfind("NAME", 0), 0u) << table;
  EXPECT_NE(table.find("Lab ramp"), std::string::npos) << table;

  // Off sends the deletion: the entry goes at once, and the choice is saved.
  expect_ok(NetLab::A, {"send", "announce", group, port, "off"});
  EXPECT_TRUE(listed(NetLab::B, "Lab ramp", false, 3s));
  expect_ok(NetLab::A, {"config", "save", "*"});
  ASSERT_EQ(daemons_[NetLab::A]->restart(), 0);
  ASSERT_TRUE(daemons_[NetLab::A]->wait_started()) << daemons_[NetLab::A]->process().output();
  EXPECT_EQ(sender_announced(NetLab::A), 0);

  expect_ok(NetLab::A, {"send", "announce", group, port, "on"});
  EXPECT_EQ(sender_announced(NetLab::A), 1);
  ASSERT_TRUE(listed(NetLab::B, "Lab ramp", true, 3s));
  expect_ok(NetLab::A, {"stream", "del", group, port, "snd"});
  EXPECT_TRUE(listed(NetLab::B, "Lab ramp", false, 3s));

  // A sender still announced at shutdown is deleted on the way out.
  send_ramp_from_a();
  ASSERT_TRUE(listed(NetLab::B, "Lab ramp"));
  EXPECT_EQ(daemons_[NetLab::A]->stop(), 0);
  EXPECT_TRUE(listed(NetLab::B, "Lab ramp", false, 3s));
}

// ffmpeg's demuxer waits for the next announcement; switching the sender
// off and on announces it at once, rather than in half a minute.
TEST_F(Discovery, FfmpegPlaysWhatADaemonAnnounces) {
  vltest::Process ffmpeg(saptest::ffmpeg_in(lab_, NetLab::B, saptest::ffmpeg_sap_play));
  send_ramp_from_a();
  ASSERT_TRUE(vltest::wait_until(
      [&] {
        if (ffmpeg.wait_for_output("Input #0, sap", 1s)) return true;
        expect_ok(NetLab::A, {"send", "announce", group, port, "off"});
        expect_ok(NetLab::A, {"send", "announce", group, port, "on"});
        return false;
      },
      20s))
      << ffmpeg.output();
  ASSERT_EQ(ffmpeg.wait_exit(30s), 0) << ffmpeg.output();
  EXPECT_NE(ffmpeg.output().find("Audio: pcm_s24be, 48000 Hz, stereo"), std::string::npos) << ffmpeg.output();
  EXPECT_GE(saptest::ffmpeg_decoded_samples(ffmpeg.output()), 24000) << ffmpeg.output();
}

// One second of 24-bit samples that never repeat within it.
std::vector<int32_t> known_samples() {
  std::vector<int32_t> samples(48000);
  uint32_t state = 12345;
  for (int32_t& sample : samples) {
    state = state * 1664525u + 1013904223u;
    sample = static_cast<int32_t>(state >> 8) - (1 << 23);  // signed 24 bits
  }
  return samples;
}

void write_s24le(const std::string& path, const std::vector<int32_t>& samples) {
  std::ofstream out(path, std::ios::binary);
  for (int32_t sample : samples)
    for (int shift : {0, 8, 16}) out.put(static_cast<char>(sample >> shift));
}

std::vector<int32_t> read_words(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<int32_t> words;
  int32_t word = 0;
  while (in.read(reinterpret_cast<char*>(&word), sizeof word)) words.push_back(word);
  return words;
}

// Samples of `recorded` (audio in the top 24 bits) that follow the looped
// `known` in order from the first one that is not silent.
std::size_t samples_in_order(const std::vector<int32_t>& recorded, const std::vector<int32_t>& known) {
  std::size_t at = 0;
  while (at < recorded.size() && recorded[at] == 0) ++at;
  if (at == recorded.size()) return 0;
  const std::size_t phase = std::find(known.begin(), known.end(), recorded[at] >> 8) - known.begin();
  std::size_t count = 0;
  while (phase < known.size() && count < known.size() && at + count < recorded.size() &&
         recorded[at + count] >> 8 == known[(phase + count) % known.size()])
    ++count;
  return count;
}

// ffmpeg in A loops a known mono recording as 1 ms L24 packets and announces it
// to its default group; the daemon in B lists it, receives it by name into
// the file analyzer, and every sample arrives in order; ffmpeg's deletion
// removes the entry.
TEST_F(Discovery, FfmpegAnnouncementIsListedAndReceivedSampleExactByName) {
  const std::vector<int32_t> known = known_samples();
  const std::string recording = files_.path() + "/known.s24";
  write_s24le(recording, known);
  vltest::Process ffmpeg(saptest::ffmpeg_in(
      lab_, NetLab::A,
      "-re -stream_loop -1 -f s24le -ar 48000 -ac 1 -i " + recording +
          " -af asetnsamples=n=48:p=0 -c:a pcm_s24be -metadata title=\"Lab file\" -f sap sap://" + group + ":" +
          port + "?ttl=1"));
  ASSERT_TRUE(listed(NetLab::B, "Lab file")) << ffmpeg.output();

  expect_ok(NetLab::B, {"audio", "reserve", "AnalyzerFile"});
  expect_ok(NetLab::B, {"session", "add", group, port, "veth1"});
  expect_ok(NetLab::B, {"receive", "add", group, port, "AnalyzerFile", "--from", "Lab file", "--map", "0"});

  // A whole period of the recording in order, wherever it began.
  const std::string analyzed = daemons_[NetLab::B]->work_dir() + "/analyzer.bin";
  std::size_t in_order = 0;
  EXPECT_TRUE(vltest::wait_until(
      [&] { return (in_order = samples_in_order(read_words(analyzed), known)) == known.size(); }, 20s, 500ms))
      << in_order << " samples in order";
  expect_ok(NetLab::B, {"stream", "del", group, port, "rcv"});
  expect_ok(NetLab::B, {"audio", "release", "AnalyzerFile"});

  ffmpeg.signal(SIGTERM);
  EXPECT_TRUE(listed(NetLab::B, "Lab file", false, 3s)) << ffmpeg.output();
  EXPECT_NE(ffmpeg.wait_exit(10s), -1);
}

// Bad SAP packets of every kind, many times over: the daemon keeps running
// and keeps its table as it was.
TEST_F(Discovery, FloodOfBadPacketsLeavesTheDaemonAndItsTable) {
  send_ramp_from_a();
  ASSERT_TRUE(listed(NetLab::B, "Lab ramp"));
  const VlJsonRef before = entry(NetLab::B, "Lab ramp");
  const uint16_t hash = static_cast<uint16_t>(json_integer_value(json_object_get(before.get(), "sap_msg_id_hash")));
  for (const char* sap_group : {vl_sap_group_aes67, vl_sap_group_global}) {
    saptest::RawSender sender(lab_, sap_group);
    const std::vector<saptest::Bytes> bad = saptest::bad_datagrams(hash);
    for (int round = 0; round < 200; ++round)
      for (const saptest::Bytes& datagram : bad) ASSERT_TRUE(sender.send(datagram));
  }
  // A good announcement after the flood shows the directory still reads;
  // it is repeated, as the flood may have filled the socket's buffer.
  saptest::RawSender sender(lab_, vl_sap_group_aes67);
  const saptest::Bytes good = saptest::announcement(0x4444, saptest::aes67_sdp("After", "239.1.2.9", 5004));
  ASSERT_TRUE(vltest::wait_until([&] { return sender.send(good) && entry(NetLab::B, "After"); }, 10s, 200ms));
  EXPECT_EQ(json_array_size(discovered(NetLab::B).get()), 2u);
  EXPECT_STREQ(json_string_value(json_object_get(entry(NetLab::B, "Lab ramp").get(), "sap_sdp")),
               json_string_value(json_object_get(before.get(), "sap_sdp")));
  EXPECT_EQ(daemons_[NetLab::B]->stop(), 0);
}

}  // namespace
