#include "interop_lab.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace interop {

bool have_program(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':'))
    if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  return false;
}

std::string missing_peer(const std::string& program) {
  return program + " is not installed (scripts/setup.sh installs it); this peer is not tested";
}

std::vector<std::string> joined_command(const NetLab& lab, NetLab::Host host, const std::vector<std::string>& argv) {
  std::vector<std::string> command{"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1"};
  command.insert(command.end(), argv.begin(), argv.end());
  return lab.command(host, command);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::string& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary) << contents;
}

bool has_prefix(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

void put_be(std::string& out, int32_t value, int bytes) {
  const auto word = static_cast<uint32_t>(value);
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>((word >> (8 * i)) & 0xff));
}

int32_t get_be(const std::string& in, std::size_t at, int bytes) {
  uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value = (value << 8) | static_cast<uint8_t>(in[at + i]);
  const int unused = 32 - 8 * bytes;
  return static_cast<int32_t>(value << unused) >> unused;
}

std::string identity_map(int channels) {
  std::string map;
  for (int c = 0; c < channels; ++c) map += (c ? "," : "") + std::to_string(c);
  return map;
}

void Lab::SetUp() {
  ASSERT_TRUE(lab_.ok()) << lab_.error();
  ASSERT_TRUE(start_daemon(NetLab::A));
}

bool Lab::start_daemon(NetLab::Host host) {
  daemons_[host] = std::make_unique<vltest::Daemon>(lab_, host, STREAMERD_PATH);
  const bool started = daemons_[host]->wait_started();
  EXPECT_TRUE(started) << daemons_[host]->process().output();
  return started;
}

std::string Lab::ctl(NetLab::Host host, const std::vector<std::string>& args) {
  std::vector<std::string> argv{STREAMERCTL_PATH, "--host", NetLab::link_address[host]};
  argv.insert(argv.end(), args.begin(), args.end());
  const vltest::ProcessResult result = vltest::run_process(joined_command(lab_, host, argv), 30s);
  EXPECT_EQ(result.status, 0) << args[0] << ": " << result.output;
  return result.output;
}

VlJsonRef Lab::session_info(NetLab::Host host) {
  const std::string text = ctl(host, {"--json", "info"});
  return VlJsonRef(json_loads(text.c_str(), 0, nullptr));
}

std::string Lab::sdp(NetLab::Host host, const std::string& encoding, int channels) {
  const vltest::ProcessResult result = vltest::run_process(
      {STREAMERCTL_PATH, "sdp", "--source", NetLab::link_address[host], "--group", group, "--port", port, "--channels",
       std::to_string(channels), "--encoding", encoding, "--ptime", "1"},
      10s);
  EXPECT_EQ(result.status, 0) << result.output;
  return result.output;
}

void Lab::reserve_ramp(NetLab::Host host, int channels) {
  const std::string n = std::to_string(channels);
  ctl(host, {"audio", "reserve", "GeneratorRamp", "--config",
             R"({"channelCountCapture": )" + n + R"(, "channelCountPlay": 0, "audioBlockSize": 1024,
                 "sampleRate": [48000, 1], "function": {"channels": )" + n + "}}"});
}

void Lab::send_ramp(const std::string& sdp_file) {
  write_file(sdp_file, sdp(NetLab::A, "L24", 2));
  reserve_ramp(NetLab::A, 2);
  ctl(NetLab::A, {"session", "add", group, port, NetLab::link_device[NetLab::A]});
  ctl(NetLab::A, {"send", "add", group, port, "GeneratorRamp", "--sdp", sdp_file, "--map", "0,1"});
}

VlJsonRef Lab::sender_peers() {
  const VlJsonRef info = session_info(NetLab::A);
  const json_t* sender =
      json_object_get(json_array_get(json_object_get(info.get(), "session_info_list"), 0), "session_sender_info");
  return VlJsonRef::borrow(json_object_get(sender, "rtcp_receiver_info"));
}

void Lab::reserve_file_analyzer(NetLab::Host host) {
  ctl(host, {"audio", "reserve", "AnalyzerFile", "--config",
             R"({"channelCountCapture": 0, "channelCountPlay": 1, "audioBlockSize": 1024, "sampleRate": [48000, 1],
                 "function": {"filename": "received.bin"}})"});
}

}  // namespace interop
