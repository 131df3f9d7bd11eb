// A control server that answers as the test says, for answers a real
// daemon never gives: the framing module's server side in a lab host, with
// a script that turns each request's command number into the frames sent
// back. Header-only; users link libs/vlipc. One at a time per process.
//
//   vltest::ScriptedDaemon daemon;
//   daemon.script = [](json_int_t command) { return vltest::Frames{vltest::response(command, "{}")}; };
//   ASSERT_TRUE(daemon.start(lab, vltest::NetLab::A, "198.18.0.1"));
#pragma once

#include "vlipc/vl_ipc_lowlevel.h"
#include "vlsys/vl_log.h"
#include "vltest/netlab.h"
#include "vlutil/vl_json_ref.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace vltest {

struct Frame {
  uint32_t type;  // VL_IPC_RESPONSE or VL_IPC_EVENT; drop_connection ends the connection instead
  std::string body;
};
using Frames = std::vector<Frame>;
inline constexpr uint32_t drop_connection = 99;

inline Frame response(json_int_t command, const std::string& parameter) {
  return {VL_IPC_RESPONSE, R"({"command": )" + std::to_string(command) + R"(, "parameter": )" + parameter + "}"};
}

inline Frame event(int id, const std::string& data) {
  return {VL_IPC_EVENT,
          R"({"event_id": )" + std::to_string(id) + R"(, "event_originator": "test", "event_data": )" + data + "}"};
}

class ScriptedDaemon {
 public:
  // log4c makes categories without a lock: those the server thread uses
  // exist before it starts, so that it only looks them up.
  ScriptedDaemon() {
    for (const char* name : {"velanto.ipc.srv", "velanto.ipc.clt", "velanto.vl_error"}) vl_log_category(name);
    instance() = this;
  }
  ~ScriptedDaemon() {
    vl_ipc_stop();
    instance() = nullptr;
  }
  ScriptedDaemon(const ScriptedDaemon&) = delete;
  ScriptedDaemon& operator=(const ScriptedDaemon&) = delete;

  // Listens on address:42538 in `host`.
  bool start(const NetLab& lab, NetLab::Host host, const char* address) {
    int started = -1;
    lab.run_in(host, [&] { started = vl_ipc_start(address, 42538, answer); });
    return started == 0;
  }

  // Runs on the server thread; set it before the first request.
  std::function<Frames(json_int_t command)> script = [](json_int_t command) { return Frames{response(command, "{}")}; };
  std::atomic<int> requests{0};
  // The commands received so far, in order.
  std::vector<json_int_t> commands() const {
    std::lock_guard<std::mutex> hold(commands_lock_);
    return commands_;
  }

 private:
  mutable std::mutex commands_lock_;
  std::vector<json_int_t> commands_;

  static ScriptedDaemon*& instance() {
    static ScriptedDaemon* current = nullptr;
    return current;
  }

  static void answer(vl_ipc_connection* connection, const vl_ipc_message* message) {
    ScriptedDaemon* self = instance();
    if (!self || message->type != VL_IPC_REQUEST) return;
    const VlJsonRef request(json_loads(message->body, 0, nullptr));
    const json_int_t command = json_integer_value(json_object_get(request.get(), "command"));
    {
      std::lock_guard<std::mutex> hold(self->commands_lock_);
      self->commands_.push_back(command);
    }
    ++self->requests;
    for (const Frame& frame : self->script(command)) {
      if (frame.type == drop_connection) {
        vl_ipc_shutdown(connection);
        continue;
      }
      const vl_ipc_message out{1, frame.type, static_cast<uint32_t>(frame.body.size() + 1), frame.body.c_str()};
      vl_ipc_send_message(connection, &out);
    }
  }
};

}  // namespace vltest
