// streamerd processes in the lab under remote control: requests go out as
// JSON text exactly as written, answers come back as the bytes of their
// frame body, so that tests see the wire format and key order.
#pragma once

#include "vltest/daemon.h"
#include "vltest/netlab.h"
#include "vltest/wait.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace ipc_control {

using namespace std::chrono_literals;

// The group and port of the tests' first session, and its identity as a
// "session_id" value.
constexpr const char* group = "239.77.8.1";
constexpr int port = 5004;
inline std::string session_id(const char* address = group, int session_port = port) {
  return std::string(R"({"session_addr": ")") + address + R"(", "session_port": )" + std::to_string(session_port) + "}";
}

// JSON as the daemon writes it.
inline std::string text_of(const json_t* json) {
  char* dumped = json ? json_dumps(json, JSON_ENCODE_ANY | JSON_PRESERVE_ORDER) : nullptr;
  std::string result = dumped ? dumped : "";
  std::free(dumped);
  return result;
}

// A multicast stream of a 24-bit ramp on two channels in 48-frame packets.
inline std::string stream_sdp(const char* address = group, int stream_port = port) {
  return std::string("v=0\no=- 1 1 IN IP4 198.18.0.1\ns=Control lab\nt=0 0\na=clock-domain:PTPv2 0\nm=audio ") +
         std::to_string(stream_port) + " RTP/AVP 98\nc=IN IP4 " + address +
         "/32\na=rtpmap:98 L24/48000/2\na=sync-time:12345\na=framecount:48\n";
}
// The same as a JSON string value, escaped as jansson writes it.
inline std::string json_text(const std::string& text) {
  VlJsonRef value(json_string(text.c_str()));
  return text_of(value.get());
}

// The audio device configuration every test reserves with.
constexpr const char* audio_config = R"({"audioBlockSize": 1024})";

// Now as a 48 kHz media timestamp of the daemons' clock (the system clock).
inline uint32_t media_now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const auto seconds = static_cast<uint64_t>(now.tv_sec);
  const auto nanoseconds = static_cast<uint64_t>(now.tv_nsec);
  return static_cast<uint32_t>(seconds * 48000 + nanoseconds * 48000 / 1000000000);
}

// A daemon on a lab host with a control connection from the other host.
class Controlled {
 public:
  // `program` runs in place of the daemon when given (a wrapper that starts
  // it with `args`).
  Controlled(const vltest::NetLab& lab, vltest::NetLab::Host host, const std::vector<std::string>& args = {},
             const std::vector<std::string>& environment = {}, const std::string& program = STREAMERD_PATH)
      : host_(host), daemon_(lab, host, program, args, environment) {}

  // Waits for start-up and connects; false when either fails.
  bool connect() {
    client_.reset();
    if (!daemon_.wait_started()) return false;
    client_ = daemon_.connect(host_ == vltest::NetLab::A ? vltest::NetLab::B : vltest::NetLab::A);
    return client_ != nullptr;
  }
  // Ends the control connection, so that the daemon serves the next client.
  void disconnect() { client_.reset(); }
  // Stops the daemon with SIGTERM: true when it exits with status 0 (a
  // sanitizer report at exit makes it fail).
  bool stop() {
    client_.reset();
    return daemon_.stop() == 0;
  }
  // Stops the daemon, starts it again and reconnects.
  bool restart() {
    client_.reset();
    return daemon_.restart() == 0 && connect();
  }

  // The body of the response frame (version 1, type 1) to
  // {"command": command, "parameter": parameter}; empty without one.
  std::string answer(int command, const std::string& parameter) {
    if (!send(command, parameter)) return "";
    std::optional<ipc_test::Frame> frame = client_->read_frame(10s);
    return frame && frame->version == 1 && frame->type == 1 ? frame->body : "";
  }
  // Sends the request without waiting for its answer.
  bool send(int command, const std::string& parameter) {
    return client_ &&
           client_->send_request(R"({"command": )" + std::to_string(command) + R"(, "parameter": )" + parameter + "}");
  }
  // The answer's "parameter".
  VlJsonRef result(int command, const std::string& parameter) {
    VlJsonRef body(json_loads(answer(command, parameter).c_str(), 0, nullptr));
    return VlJsonRef::borrow(json_object_get(body.get(), "parameter"));
  }
  // The description of "init".
  VlJsonRef describe() { return result(1, "null"); }

  // Reserves `device` through "audio_rsv" (command 14).
  ::testing::AssertionResult reserve(const char* device) {
    const std::string body =
        answer(14, std::string(R"({"audio_device_name": ")") + device + R"(", "audio_config": )" + audio_config + "}");
    VlJsonRef parsed(json_loads(body.c_str(), 0, nullptr));
    if (json_is_object(json_object_get(parsed.get(), "parameter")) &&
        json_integer_value(json_object_get(parsed.get(), "command")) == 14)
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "reserving " << device << " answered " << body;
  }
  // False while the daemon has no "audio_rsv" (command 14) yet.
  bool can_reserve() {
    VlJsonRef body(json_loads(answer(14, "null").c_str(), 0, nullptr));
    return json_integer_value(json_object_get(body.get(), "command")) == 14;
  }

  vltest::Daemon& daemon() { return daemon_; }
  std::string config_path() const { return daemon_.home() + "/.Velanto/velanto.cfg"; }

 private:
  vltest::NetLab::Host host_;
  vltest::Daemon daemon_;
  std::unique_ptr<ipc_test::WireClient> client_;
};

// An answer to `command` that refuses with exactly one error of that type
// and text ({"line", "file", "type", "text"}).
inline ::testing::AssertionResult refused(const std::string& body, int command, int type, const std::string& text) {
  VlJsonRef parsed(json_loads(body.c_str(), 0, nullptr));
  const json_t* errors = json_object_get(parsed.get(), "parameter");
  const json_t* error = json_array_get(errors, 0);
  std::vector<std::string> keys;
  const char* key = nullptr;
  json_t* value = nullptr;
  json_object_foreach(const_cast<json_t*>(error), key, value) keys.emplace_back(key);
  const char* error_text = json_string_value(json_object_get(error, "text"));
  const bool ok = json_integer_value(json_object_get(parsed.get(), "command")) == command &&
                  json_array_size(errors) == 1 && keys == std::vector<std::string>{"line", "file", "type", "text"} &&
                  json_integer_value(json_object_get(error, "type")) == type && error_text && text == error_text;
  if (ok) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "expected error " << type << " \"" << text << "\", got " << body;
}

inline bool file_exists(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// One daemon in lab host A, controlled from host B; it streams on veth0.
class OneDaemon : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lab_.ok()) << lab_.error();
    ASSERT_TRUE(a_.connect()) << a_.daemon().process().output();
  }
  void TearDown() override { EXPECT_TRUE(a_.stop()) << a_.daemon().process().output(); }
  std::string answer(int command, const std::string& parameter) { return a_.answer(command, parameter); }
  // A session of the first group on veth0.
  void add_session(const char* address = group, int session_port = port) {
    const std::string body = answer(6, R"({"session_addr": ")" + std::string(address) + R"(", "session_port": )" +
                                           std::to_string(session_port) + R"(, "network_interface_name": "veth0"})");
    ASSERT_TRUE(body.starts_with(R"({"command": 6, "parameter": {"session_id")")) << body;
  }

  vltest::NetLab lab_;
  Controlled a_{lab_, vltest::NetLab::A};
};

// What the ramp analyzer has found, as "init" shows it.
struct Findings {
  bool shown = false;  // the analyzer is reserved and reports its three attributes
  uint32_t last_good = 0;
  uint32_t mismatches = 0;
  uint32_t offset = 0;
  uint32_t asked_at = 0;  // the media time just before "init" was sent

  // Frames from the last good frame to the question; a little below 0 while
  // the ramp arrives (frames are checked when they are placed, a delay
  // ahead), and growing once it stops.
  int32_t lag() const { return static_cast<int32_t>(asked_at - last_good); }
};

inline Findings analyzer_findings(Controlled& daemon) {
  Findings found;
  found.asked_at = media_now();
  const VlJsonRef description = daemon.describe();
  std::size_t index = 0;
  json_t* device = nullptr;
  json_array_foreach(json_object_get(description.get(), "audio_device_list"), index, device) {
    const char* name = json_string_value(json_object_get(device, "audio_device_name"));
    if (!name || std::strcmp(name, "AnalyzerRamp") != 0) continue;
    const json_t* attributes = json_object_get(device, "audio_attributes");
    auto attribute = [&](std::size_t i) {
      return static_cast<uint32_t>(json_integer_value(json_array_get(attributes, i)));
    };
    found.shown = json_array_size(attributes) == 3;
    found.last_good = attribute(0);
    found.mismatches = attribute(1);
    found.offset = attribute(2);
  }
  return found;
}

// The ramp generator of a daemon in host A streams to the ramp analyzer of a
// daemon in host B, both set up through the protocol alone.
class TwoDaemons : public ::testing::Test {
 protected:
  static constexpr int delay = 480;
  static constexpr uint32_t exact_offset = 65536 - delay;  // the ramp arrives sample-exact, a delay late

  TwoDaemons() = default;
  // The sending daemon with `environment` added.
  explicit TwoDaemons(const std::vector<std::string>& environment) : a_{lab_, vltest::NetLab::A, {}, environment} {}

  void SetUp() override {
    ASSERT_TRUE(lab_.ok()) << lab_.error();
    ASSERT_TRUE(a_.connect()) << a_.daemon().process().output();
    ASSERT_TRUE(b_.connect()) << b_.daemon().process().output();
    if (!a_.can_reserve()) GTEST_SKIP() << "this daemon has no audio_rsv (command 14) yet";
  }
  void TearDown() override {
    EXPECT_TRUE(a_.stop()) << a_.daemon().process().output();
    EXPECT_TRUE(b_.stop()) << b_.daemon().process().output();
  }

  // Reserves both devices, makes the session in both hosts, adds the streams
  // and maps the ramp to the first stream channel at both ends.
  void set_up_streams() {
    ASSERT_TRUE(a_.reserve("GeneratorRamp"));
    ASSERT_TRUE(b_.reserve("AnalyzerRamp"));
    for (auto [daemon, interface] : {std::pair{&a_, "veth0"}, std::pair{&b_, "veth1"}}) {
      const std::string body =
          daemon->answer(6, R"({"session_addr": ")" + std::string(group) + R"(", "session_port": )" +
                                std::to_string(port) + R"(, "network_interface_name": ")" + interface + R"("})");
      ASSERT_TRUE(body.starts_with(R"({"command": 6, "parameter": {)")) << body;
    }
    const std::string common = R"({"session_id": )" + session_id() + R"(, "stream_sdp": )" + json_text(stream_sdp());
    const std::string sent = a_.answer(9, common + R"(, "audio_device_name": "GeneratorRamp", "stream_seqno": 100, )"
                                                   R"("stream_dscp": 34, "stream_packetduration": 48})");
    ASSERT_TRUE(sent.starts_with(R"({"command": 9, "parameter": {)")) << sent;
    const std::string received = b_.answer(
        10, common + R"(, "audio_device_name": "AnalyzerRamp", "stream_end2enddelay": )" + std::to_string(delay) + "}");
    ASSERT_TRUE(received.starts_with(R"({"command": 10, "parameter": {)")) << received;
    ASSERT_TRUE(map(a_, 1, "[0, -1]", "GeneratorRamp"));
    ASSERT_TRUE(map(b_, 2, "[0, -1]", "AnalyzerRamp"));
  }

  ::testing::AssertionResult map(Controlled& daemon, int type, const std::string& channels, const std::string& device) {
    const std::string body = daemon.answer(13, R"({"session_id": )" + session_id() + R"(, "stream_type": )" +
                                                   std::to_string(type) + R"(, "stream_channelmap": )" + channels +
                                                   R"(, "audio_device_name": ")" + device + R"("})");
    if (body.starts_with(R"({"command": 13, "parameter": {)")) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << body;
  }

  // True once the analyzer checks good frames of the ramp as they arrive.
  bool ramp_arrives(std::chrono::milliseconds timeout = 5s) {
    return vltest::wait_until(
        [&] {
          const Findings found = analyzer_findings(b_);
          return found.shown && found.last_good != 0 && found.lag() > -4 * delay && found.lag() < 4800;
        },
        timeout, 20ms);
  }
  // True once the analyzer has checked no good frame for half a second.
  bool ramp_gone(std::chrono::milliseconds timeout = 3s) {
    return vltest::wait_until([&] { return analyzer_findings(b_).lag() > 24000; }, timeout, 20ms);
  }

  vltest::NetLab lab_;
  Controlled a_{lab_, vltest::NetLab::A};
  Controlled b_{lab_, vltest::NetLab::B};
};

}  // namespace ipc_control
