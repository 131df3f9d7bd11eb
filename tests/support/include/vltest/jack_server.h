// A JACK server of a test's own: the dummy backend, which runs in real time
// without a sound card, under a name no other test process uses. While it
// lives, the JACK clients of this process (RtAudio's JACK API among them)
// connect to it and to no other server, and none starts a server itself.
//
//   vltest::JackServer server;                 // 48 kHz, 64-frame periods, 2 + 2 ports
//   ASSERT_TRUE(server.ready()) << server.log();
//   ... open the device "system" ...
//
// The server is stopped and reaped when the object goes, and terminated by
// the kernel if the test process dies first. A JACK registry left full by
// servers that died without their shutdown is reset when no server runs.
//
// One such server runs on the machine at a time: the object holds a lock
// file for its life, and a second one waits for it. JACK keeps its clients'
// sockets in one machine-wide directory under the client name alone (and
// RtAudio always opens clients of the same names), so clients of two
// servers opening at once can take each other's socket.
#pragma once

#include "vltest/temp_dir.h"

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vltest {

struct JackServerOptions {
  uint32_t rate = 48000;
  uint32_t period_frames = 64;
  uint32_t capture_ports = 2;   // "system:capture_N": the device's inputs
  uint32_t playback_ports = 2;  // "system:playback_N": the device's outputs
  std::chrono::milliseconds start_timeout{10000};
  std::chrono::milliseconds lock_timeout{240000};  // waiting for another test's server
};

class JackServer {
 public:
  explicit JackServer(const JackServerOptions& options = {});
  // SIGTERM, SIGKILL if it does not end in time; the environment restored.
  ~JackServer();
  JackServer(const JackServer&) = delete;
  JackServer& operator=(const JackServer&) = delete;

  // True once the server accepted a client and lists its ports.
  bool ready() const { return ready_; }
  const std::string& name() const { return name_; }
  pid_t pid() const { return pid_; }
  // What the server wrote, for failure messages.
  std::string log() const;

 private:
  struct SavedVariable {
    std::string name;
    std::optional<std::string> value;
  };

  bool take_lock(std::chrono::milliseconds timeout);
  void set_environment();
  void restore_environment();
  void start(const JackServerOptions& options);
  bool wait_ready(std::chrono::milliseconds timeout);
  bool registry_full() const;
  bool exited();
  void stop();

  std::string name_;
  TempDir dir_;
  std::string log_path_;
  std::vector<SavedVariable> saved_;
  int lock_fd_ = -1;
  pid_t pid_ = -1;
  bool ready_ = false;
};

}  // namespace vltest
