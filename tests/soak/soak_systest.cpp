// A daemon under a long run of control requests that build and tear down a
// session with both streams, while a stream of its own keeps flowing to a
// second daemon: the stream stays sample-exact and the daemon gives back
// every descriptor, thread and page the requests took.
#include "daemon_usage.h"
#include "ipc_control.h"

#include <chrono>
#include <algorithm>
#include <cstdio>
#include <string>

namespace {

using namespace std::chrono_literals;
using daemon_usage::Usage;
using ipc_control::json_text;
using ipc_control::session_id;
using ipc_control::stream_sdp;

// At least this many rounds, and rounds for this long: a round takes a few
// milliseconds, and minutes let RTCP cycles and slow leaks show.
constexpr int least_rounds = 1000;
constexpr auto soak_time = std::chrono::seconds(200);
constexpr int warm_up = 20;  // first-use allocations (codec tables, thread stacks) are not leaks
constexpr const char* loop_group = "239.77.8.2";
constexpr int loop_port = 5006;
constexpr int loop_stream_port = 5008;  // apart from the session's RTCP

// Errors the rounds cause themselves: the round's receiver hears the first
// report of the round's new sender, which has sent nothing yet.
bool caused_by_the_rounds(const std::string& record) {
  return record.find("Sender did not send out any RTP packets since last RTCP report") != std::string::npos;
}

class Soak : public ipc_control::TwoDaemons {
 protected:
  Soak() : TwoDaemons(daemon_usage::logging_environment()) {}

  // True when `command` is answered under its own number, not refused.
  bool ok(int command, const std::string& parameter) {
    const std::string prefix = R"({"command": )" + std::to_string(command) + R"(, "parameter": )";
    const std::string body = a_.answer(command, parameter);
    if (body.starts_with(prefix) && !body.starts_with(prefix + "[")) return true;
    ADD_FAILURE() << "command " << command << " " << parameter << " answered " << body;
    return false;
  }

  // One round: reserve, session, both streams, a new map, the session's
  // description, the streams and the session gone, the devices released.
  bool round() {
    const std::string id = R"({"session_id": )" + session_id(loop_group, loop_port);
    const std::string sdp = R"(, "stream_sdp": )" + json_text(stream_sdp(loop_group, loop_stream_port));
    const bool done =
        ok(14, R"({"audio_device_name": "GeneratorSine", "audio_config": )"
               R"({"audioBlockSize": 1024, "function": {"name": "sine", "freq": [1000, 1]}}})") &&
        a_.reserve("AnalyzerRamp") &&
        ok(6, R"({"session_addr": ")" + std::string(loop_group) + R"(", "session_port": )" +
                  std::to_string(loop_port) + R"(, "network_interface_name": "veth0"})") &&
        ok(9, id + sdp + R"(, "audio_device_name": "GeneratorSine", "stream_seqno": 1, "stream_dscp": 34, )"
                         R"("stream_packetduration": 48})") &&
        ok(10, id + sdp + R"(, "audio_device_name": "AnalyzerRamp", "stream_end2enddelay": 480})") &&
        ok(13, id + R"(, "stream_type": 1, "stream_channelmap": [1, 0], "audio_device_name": "GeneratorSine"})") &&
        ok(8, id + "}") && ok(11, id + R"(, "stream_type": 1})") && ok(12, id + R"(, "stream_type": 2})") &&
        ok(7, id + "}") && ok(17, R"({"audio_device_name": "GeneratorSine"})") &&
        ok(17, R"({"audio_device_name": "AnalyzerRamp"})");
    // The analyzer prints its findings when released: keep the pipe drained.
    a_.daemon().process().wait_for_output("\x01", 1ms);
    return done;
  }

  Usage usage() { return daemon_usage::usage_of(a_.daemon().process().pid()); }
};

TEST_F(Soak, ControlRoundsLeaveTheRunningStreamExactAndGiveEverythingBack) {
  set_up_streams();
  ASSERT_TRUE(ramp_arrives()) << a_.daemon().process().output();
  for (int i = 0; i < warm_up; ++i) ASSERT_TRUE(round());
  const Usage start = usage();
  const std::size_t logged_before = a_.daemon().error_output().size();

  const auto began = std::chrono::steady_clock::now();
  int rounds = 0;
  for (; rounds < least_rounds || std::chrono::steady_clock::now() - began < soak_time; ++rounds)
    ASSERT_TRUE(round()) << "round " << rounds;
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;

  // Threads and descriptors end with their owners; give the last ones a moment.
  Usage end = usage();
  vltest::wait_until(
      [&] {
        end = usage();
        return end.threads <= start.threads && end.descriptors <= start.descriptors;
      },
      5s, 50ms);
  std::printf("soak: %d rounds in %.1f s (%.2f rounds/s); descriptors %d -> %d, threads %d -> %d, VmRSS %ld -> %ld kB\n",
              rounds, took.count(), rounds / took.count(), start.descriptors, end.descriptors, start.threads,
              end.threads, start.rss_kib, end.rss_kib);
  EXPECT_EQ(end.descriptors, start.descriptors);
  EXPECT_EQ(end.threads, start.threads);
  EXPECT_LE(end.rss_kib, start.rss_kib + std::max(2048L, start.rss_kib / 20));

  ASSERT_TRUE(ramp_arrives(1s));
  const ipc_control::Findings found = ipc_control::analyzer_findings(b_);
  EXPECT_EQ(found.mismatches, 1u);  // the ramp's first frame only
  EXPECT_EQ(found.offset, exact_offset);
  std::vector<std::string> unexpected = daemon_usage::serious_records(a_.daemon().error_output().substr(logged_before));
  std::erase_if(unexpected, caused_by_the_rounds);
  EXPECT_EQ(unexpected, std::vector<std::string>{});
}

}  // namespace
