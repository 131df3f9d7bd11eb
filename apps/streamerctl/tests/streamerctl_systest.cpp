// The real streamerctl binary, run in lab hosts against live daemons (and a
// scripted one for events, which a daemon does not publish by itself).
#include "vltest/daemon.h"
#include "vltest/device_description.h"
#include "vltest/scripted_daemon.h"
#include "vltest/temp_dir.h"
#include "vltest/wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
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
