// What the interoperability tests share: a lab with a streamerd in host A,
// streamerctl driving it, independent peers (GStreamer, ffmpeg, tshark) run
// in host B, and the files they exchange.
#pragma once

#include "vltest/daemon.h"
#include "vltest/netlab.h"
#include "vltest/process.h"
#include "vltest/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace interop {

using namespace std::chrono_literals;
using vltest::NetLab;

inline constexpr const char* group = "239.69.1.1";
inline constexpr const char* port = "5004";
inline constexpr int rate = 48000;
inline constexpr int frames_per_packet = 48;  // 1 ms

// True when `program` is an executable file on PATH.
bool have_program(const std::string& program);
// The GTEST_SKIP message for a missing peer.
std::string missing_peer(const std::string& program);

// `argv` in `host`, its standard error joined to its output.
std::vector<std::string> joined_command(const NetLab& lab, NetLab::Host host, const std::vector<std::string>& argv);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& contents);
bool has_prefix(const std::string& text, const std::string& prefix);

// Big-endian sample bytes and back.
void put_be(std::string& out, int32_t value, int bytes);
int32_t get_be(const std::string& in, std::size_t at, int bytes);

// One lab with a streamerd in host A (and one in B when asked).
class Lab : public ::testing::Test {
 protected:
  void SetUp() override;
  // Starts the daemon of `host`; false (reported) when it does not come up.
  bool start_daemon(NetLab::Host host);
  // streamerctl in `host` against that host's daemon; the test fails when
  // it does.
  std::string ctl(NetLab::Host host, const std::vector<std::string>& args);
  // session_info of the daemon in `host`, parsed.
  VlJsonRef session_info(NetLab::Host host);
  // An SDP record as streamerctl writes it for a sender in `host`.
  std::string sdp(NetLab::Host host, const std::string& encoding, int channels);
  // Reserves GeneratorRamp with `channels` channels, each its own ramp.
  void reserve_ramp(NetLab::Host host, int channels);
  // The ramp generator of A streaming 2 channels of L24 in 1 ms packets,
  // with the SDP in `sdp_file`.
  void send_ramp(const std::string& sdp_file);
  // The peers A's sender lists in its session_info.
  VlJsonRef sender_peers();
  // Reserves the file analyzer writing "received.bin".
  void reserve_file_analyzer(NetLab::Host host);
  std::string file(const std::string& name) const { return files_.path() + "/" + name; }

  NetLab lab_;
  std::unique_ptr<vltest::Daemon> daemons_[2];
  vltest::TempDir files_;
};

// "0,1,...,n-1".
std::string identity_map(int channels);

}  // namespace interop
