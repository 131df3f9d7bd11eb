// Faults injected under a running daemon: a configuration directory that is
// read-only or full, a save cut short by SIGTERM, the streaming interface
// going down and up, the JACK server of its sound card killed.
#include "daemon_usage.h"
#include "ipc_control.h"
#include "vltest/jack_server.h"

#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using namespace ipc_control;

const std::string cannot_save = "Could not save configuration to velanto.cfg!";

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A save of client settings "lab": {"blob": `size` copies of `fill`}.
std::string save_parameter(char fill, std::size_t size = 16) {
  return R"({"vl_clt_config_file": "lab", "vl_clt_config": {"blob": ")" + std::string(size, fill) + R"("}})";
}

// Whole: JSON that parses, with the blob of one save in full.
bool whole(const std::string& text, std::size_t size) {
  VlJsonRef json(json_loads(text.c_str(), JSON_DISABLE_EOF_CHECK, nullptr));
  const json_t* lab = json_object_get(json_object_get(json.get(), "additional"), "lab");
  const char* blob = json_string_value(json_object_get(lab, "blob"));
  return blob && std::strlen(blob) == size;
}

// The daemon's configuration directory is a 256 kB tmpfs of its own, made in
// the mount namespace `ip netns exec` gives it; the test reaches it through
// /proc/<pid>/root and changes the mount with nsenter.
class ConfigDirectoryFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lab_.ok()) << lab_.error();
    ASSERT_TRUE(a_.connect()) << a_.daemon().process().output() << a_.daemon().error_output();
    ASSERT_EQ(a_.answer(3, save_parameter('p')), R"({"command": 3, "parameter": null})");
  }
  void TearDown() override { EXPECT_TRUE(a_.stop()) << a_.daemon().error_output(); }

  std::string seen(const std::string& path) {
    return "/proc/" + std::to_string(a_.daemon().process().pid()) + "/root" + path;
  }
  bool in_daemon_namespace(const std::string& command) {
    return vltest::run_process({"/usr/bin/nsenter", "-t", std::to_string(a_.daemon().process().pid()), "-m", "sh",
                                "-c", command},
                               10s)
               .status == 0;
  }
  // The save fails as a refusal, and the file keeps the previous settings.
  void expect_refused_save_keeps_previous() {
    EXPECT_TRUE(refused(a_.answer(3, save_parameter('n')), 3, 5, cannot_save));
    EXPECT_TRUE(whole(read_text(seen(a_.config_path())), 16));
    EXPECT_NE(read_text(seen(a_.config_path())).find(std::string(16, 'p')), std::string::npos);
  }

  vltest::NetLab lab_;
  Controlled a_{lab_,
                vltest::NetLab::A,
                {"-c", R"(mkdir -p "$HOME/.Velanto" && mount -t tmpfs -o size=256k vltest "$HOME/.Velanto" && exec "$0")",
                 STREAMERD_PATH},
                {},
                "/bin/sh"};
};

TEST_F(ConfigDirectoryFaults, ASaveToAReadOnlyDirectoryFailsAndThePreviousFileStays) {
  ASSERT_TRUE(in_daemon_namespace("mount -o remount,ro \"" + a_.daemon().home() + "/.Velanto\""));
  expect_refused_save_keeps_previous();
}

TEST_F(ConfigDirectoryFaults, ASaveToAFullDirectoryFailsAndThePreviousFileStays) {
  // Fill what is left (dd stops at "no space left").
  in_daemon_namespace("dd if=/dev/zero of=\"" + a_.daemon().home() + "/.Velanto/filler\" bs=4k 2>/dev/null");
  expect_refused_save_keeps_previous();
  EXPECT_FALSE(file_exists(seen(a_.config_path() + ".new")));
}

// SIGTERM at points spread over a large save: whatever the daemon finished,
// the next reader finds the file or its backup whole.
TEST_F(OneDaemon, ASaveCutShortBySigtermLeavesTheFileOrItsBackupWhole) {
  constexpr std::size_t size = 4 << 20;
  ASSERT_EQ(answer(3, save_parameter('a', size)), R"({"command": 3, "parameter": null})");
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    ASSERT_TRUE(a_.send(3, save_parameter(round % 2 ? 'a' : 'b', size)));
    usleep(static_cast<useconds_t>(round * 4000));  // where in the save the signal lands
    ASSERT_TRUE(a_.restart()) << a_.daemon().error_output();
    const std::string file = read_text(a_.config_path());
    EXPECT_TRUE(whole(file, size) || (file.empty() && whole(read_text(a_.config_path() + ".sv"), size)));
  }
}

// The sender's link goes down for a second and comes back.
class InterfaceFaults : public TwoDaemons {
 protected:
  InterfaceFaults() : TwoDaemons(daemon_usage::logging_environment()) {}
  bool link(const char* state) { return lab_.ip(vltest::NetLab::A, {"link", "set", "veth0", state}); }
};

TEST_F(InterfaceFaults, AStreamResumesWhenItsInterfaceComesBack) {
  set_up_streams();
  ASSERT_TRUE(ramp_arrives());
  ASSERT_TRUE(link("down"));
  std::this_thread::sleep_for(1s);  // the outage itself
  ASSERT_TRUE(link("up"));
  EXPECT_TRUE(ramp_arrives(20s)) << a_.daemon().error_output();
  EXPECT_NE(a_.describe().get(), nullptr) << "the sender's daemon no longer answers";
}

// A daemon whose sound card is the JACK server's dummy device "system".
class JackFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lab_.ok()) << lab_.error();
    ASSERT_TRUE(server_.ready()) << server_.log();
    a_ = std::make_unique<Controlled>(lab_, vltest::NetLab::A, std::vector<std::string>{},
                                      std::vector<std::string>{"JACK_DEFAULT_SERVER=" + server_.name(),
                                                               "JACK_NO_AUDIO_RESERVATION=1",
                                                               daemon_usage::logging_environment()[0]});
    ASSERT_TRUE(a_->connect()) << a_->daemon().process().output();
  }
  void TearDown() override {
    if (a_) {
      EXPECT_TRUE(a_->stop()) << a_->daemon().error_output();
    }
  }

  vltest::NetLab lab_;
  vltest::JackServer server_;
  std::unique_ptr<Controlled> a_;
};

TEST_F(JackFaults, TheDaemonOutlivesItsJackServerAndReportsIt) {
  const std::string reserved = a_->answer(
      14, R"({"audio_device_name": "system", "audio_config": )"
          R"({"channelCountPlay": 2, "channelCountCapture": 2, "sampleRate": [48000, 1]}})");
  ASSERT_TRUE(reserved.starts_with(R"({"command": 14, "parameter": {)")) << reserved;
  const std::string session =
      a_->answer(6, R"({"session_addr": ")" + std::string(group) + R"(", "session_port": )" + std::to_string(port) +
                        R"(, "network_interface_name": "veth0"})");
  ASSERT_TRUE(session.starts_with(R"({"command": 6, "parameter": {)")) << session;
  const std::string sent = a_->answer(9, R"({"session_id": )" + session_id() + R"(, "stream_sdp": )" +
                                             json_text(stream_sdp()) +
                                             R"(, "audio_device_name": "system", "stream_seqno": 1, "stream_dscp": 34, "stream_packetduration": 48})");
  ASSERT_TRUE(sent.starts_with(R"({"command": 9, "parameter": {)")) << sent;

  const std::size_t before = a_->daemon().error_output().size();
  // SIGTERM: a server killed outright leaves its entry in JACK's machine-wide
  // registry, which has room for only a few.
  ASSERT_EQ(kill(server_.pid(), SIGTERM), 0);
  EXPECT_TRUE(vltest::wait_until(
      [&] { return a_->daemon().error_output().find("no audio callback for", before) != std::string::npos; }, 10s,
      50ms))
      << a_->daemon().error_output();
  EXPECT_NE(a_->describe().get(), nullptr) << "the daemon no longer answers";
}

}  // namespace
