// A streamerd process on a lab host, with a HOME and a working directory of
// its own, and control connections to it from a lab host.
//
//   vltest::NetLab lab;
//   vltest::Daemon daemon(lab, vltest::NetLab::A, STREAMERD_PATH);
//   ASSERT_TRUE(daemon.wait_started()) << daemon.process().output();
//   auto client = daemon.connect(vltest::NetLab::B);
//   VlJsonRef result = vltest::request(*client, 6, parameter);   // the response's parameter
#pragma once

#include "vltest/ipc_wire_client.h"
#include "vltest/netlab.h"
#include "vltest/process.h"
#include "vltest/temp_dir.h"
#include "vlutil/vl_json_ref.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vltest {

class Daemon {
 public:
  // Starts `program` in `host` with `args`; `environment` adds "NAME=value"
  // entries. The daemon reaches no audio server.
  Daemon(const NetLab& lab, NetLab::Host host, const std::string& program, const std::vector<std::string>& args = {},
         const std::vector<std::string>& environment = {});
  // Ends the daemon if it still runs and passes on what it wrote to
  // standard error.
  ~Daemon();
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  // True once start-up, the control server and the configuration load are done.
  bool wait_started(std::chrono::milliseconds timeout = std::chrono::seconds(15));
  Process& process() { return *process_; }
  // What the daemon wrote to standard error so far (sanitizer reports, for one).
  std::string error_output() const;
  const std::string& home() const { return home_.path(); }
  // Its working directory, where the file analyzer writes.
  const std::string& work_directory() const { return work_.path(); }
  // The daemon's link address in its host.
  const char* address() const { return NetLab::link_address[host_]; }

  // A connection to the control port from `from` (null when none is made).
  std::unique_ptr<ipc_test::WireClient> connect(NetLab::Host from, int receive_buffer = 0) const;

  // Stops the daemon with SIGTERM; its exit status or -1.
  int stop(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Stops the daemon and starts it again as before, with the same HOME and
  // working directory; the stop's exit status or -1.
  int restart(std::chrono::milliseconds timeout = std::chrono::seconds(10));

 private:
  void start();

  const NetLab& lab_;
  NetLab::Host host_;
  std::vector<std::string> argv_;
  std::vector<std::string> environment_;
  TempDir home_;
  TempDir work_;
  std::string error_file_;
  std::unique_ptr<Process> process_;
};

// Sends {"command": command, "parameter": parameter} (null: JSON null) and
// returns the response frame's JSON body, skipping event frames; none when
// no response arrives in time.
std::optional<VlJsonRef> exchange(ipc_test::WireClient& client, int command, const json_t* parameter,
                                  std::chrono::milliseconds timeout = std::chrono::seconds(10));

// The response's "parameter" (a new reference), or null without a response.
VlJsonRef request(ipc_test::WireClient& client, int command, const json_t* parameter);

}  // namespace vltest
