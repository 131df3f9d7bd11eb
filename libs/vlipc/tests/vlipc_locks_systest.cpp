// The device's locks under commands from several threads at once, the way
// the dispatcher runs them (each under the control lock), while the streams
// they make run and the PTP poller and RTCP work beside them: every command
// succeeds, and ThreadSanitizer sees no race.
#include "vl/vl_device.h"
#include "vlipc/vl_ipc_srv.h"
#include "vlipc/vlipc_audio.h"
#include "vlipc/vlipc_init.h"
#include "vlipc/vlipc_log.h"
#include "vlipc/vlipc_ptp.h"
#include "vlipc/vlipc_session.h"
#include "vlipc/vlipc_stream.h"
#include "vltest/device_lab.h"
#include "vltest/log_capture.h"
#include "vlsys/vl_mutex.h"
#include "vlutil/vl_error.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using vltest::NetLab;

constexpr int rounds = 25;

struct Command {
  vl_ipc_request_handler handler;
  std::string parameter;
};

std::string session_id(int port) {
  return R"({"session_id": {"session_addr": "239.77.5.1", "session_port": )" + std::to_string(port) + "}";
}

std::string sdp(int port) {
  return R"(, "stream_sdp": "v=0\no=- 1 1 IN IP4 198.18.0.1\ns=Lab\nt=0 0\nm=audio )" + std::to_string(port) +
         R"( RTP/AVP 98\nc=IN IP4 239.77.5.1/32\na=rtpmap:98 L24/48000/2\na=sync-time:0\n")";
}

// One client's round trip of a session with a stream of `kind` (1 sender, 2
// receiver) on `device`.
std::vector<Command> stream_round(int port, int kind, const char* device) {
  const std::string id = session_id(port);
  const std::string name = std::string(R"(, "audio_device_name": ")") + device + "\"";
  return {
      {vl_session_add_request, R"({"session_addr": "239.77.5.1", "session_port": )" + std::to_string(port) +
                                   R"(, "network_interface_name": "veth0"})"},
      kind == 1 ? Command{vl_stream_add_snd_request, id + sdp(port) + name + R"(, "stream_seqno": 1, )"
                                                                             R"("stream_dscp": 34, "stream_packetduration": 48})"}
                : Command{vl_stream_add_rcv_request, id + sdp(port) + name + R"(, "stream_end2enddelay": 480})"},
      {vl_stream_change_request, id + R"(, "stream_type": )" + std::to_string(kind) +
                                     R"(, "stream_channelmap": [1, 0])" + name + "}"},
      {vl_session_info_request, id + "}"},
      {vl_init_request, "null"},
      {kind == 1 ? vl_stream_del_snd_request : vl_stream_del_rcv_request,
       id + R"(, "stream_type": )" + std::to_string(kind) + "}"},
      {vl_session_del_request, id + "}"},
  };
}

// What the other commands touch beside the sessions: log categories, the PTP
// status and configuration read back, the device description.
std::vector<Command> side_round(int round) {
  return {
      {vl_log_set_priority_request, R"({"log_category": "velanto.locks.)" + std::to_string(round % 5) +
                                        R"(", "log_priority": 700})"},
      {vl_log_get_categories_request, "{}"},
      {vl_ptp_get_status_request, "{}"},
      {vl_init_request, "null"},
  };
}

// Runs `commands` as the dispatcher does; the first refusal, or empty.
std::string run(VlDevice* device, const std::vector<Command>& commands) {
  VlError* errors = vl_error_ctor();
  vl_error_install(errors);
  std::string refusal;
  for (const Command& command : commands) {
    VlJsonRef parameter(json_loads(command.parameter.c_str(), JSON_DECODE_ANY, nullptr));
    VlLock lock(device->control_lock);
    VlJsonRef result(command.handler(device, parameter.get()));
    if (!result || json_is_array(result.get())) {
      char* text = json_dumps(result.get(), JSON_ENCODE_ANY);
      refusal = command.parameter + " answered " + (text ? text : "nothing");
      std::free(text);
      break;
    }
  }
  vl_error_dtor(errors);
  return refusal;
}

TEST(DeviceLocks, CommandsFromThreeThreadsAtOnceAllSucceed) {
  vltest::LogCapture log;
  vltest::DeviceLab lab;
  ASSERT_TRUE(lab.ok()) << lab.net().error();
  VlDevice* device = lab.make_device(NetLab::A);
  ASSERT_NE(device, nullptr);
  ASSERT_NE(lab.reserve(device, "GeneratorRamp"), nullptr);
  ASSERT_NE(lab.reserve(device, "AnalyzerRamp"), nullptr);

  std::string refusals[3];
  lab.run_in(NetLab::A, [&] {
    std::vector<std::thread> clients;
    clients.emplace_back([&] {
      for (int i = 0; i < rounds && refusals[0].empty(); ++i) refusals[0] = run(device, stream_round(5040, 1, "GeneratorRamp"));
    });
    clients.emplace_back([&] {
      for (int i = 0; i < rounds && refusals[1].empty(); ++i) refusals[1] = run(device, stream_round(5042, 2, "AnalyzerRamp"));
    });
    clients.emplace_back([&] {
      for (int i = 0; i < rounds && refusals[2].empty(); ++i) refusals[2] = run(device, side_round(i));
    });
    for (std::thread& client : clients) client.join();
  });
  for (const std::string& refusal : refusals) EXPECT_EQ(refusal, "");
}

}  // namespace
