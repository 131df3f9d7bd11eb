// The control server in a network lab: it listens on all of host B's
// addresses on its own port, and a client that vanishes from the network
// no longer keeps the next client waiting once keep-alive gives up on it.
#include "vlipc/vl_ipc_srv.h"

#include "ipc_wire_client.h"
#include "vl/vl_device.h"
#include "vlipc/vl_ipc_keepalive.h"
#include "vltest/log_capture.h"
#include "vltest/netlab.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

using namespace ipc_test;
using vltest::NetLab;

json_t* done(VlDevice*, json_t*) { return json_null(); }

constexpr const char* request = R"({"command": 2, "parameter": {}})";

TEST(IpcServerLab, VanishedClientNoLongerBlocksTheNext) {
  NetLab lab;
  ASSERT_TRUE(lab.ok()) << lab.error();
  vltest::LogCapture log;
  // Idle 1 s, then 2 probes 1 s apart: the first client is given up after about 3 s.
  setenv(vl_ipc_keepalive_env, "1,1,2", 1);
  vl_mutex control_lock = {PTHREAD_MUTEX_INITIALIZER};
  VlDevice* device = vl_device_ctor(nullptr);
  vl_ipc_register_handler(VL_IPC_CMD_DONE, done);
  int started = -1;
  lab.run_in(NetLab::B, [&] { started = vl_ipc_server_start(device, &control_lock); });
  unsetenv(vl_ipc_keepalive_env);
  ASSERT_EQ(started, 0);

  std::unique_ptr<WireClient> first;
  lab.run_in(NetLab::A, [&] { first = std::make_unique<WireClient>(NetLab::link_address[NetLab::B], vl_ipc_port); });
  ASSERT_TRUE(first->send_request(request));
  ASSERT_TRUE(first->read_frame());
  // The first client's host loses its link without closing anything.
  ASSERT_TRUE(lab.ip(NetLab::A, {"link", "set", NetLab::link_device[NetLab::A], "down"})) << lab.error();

  std::unique_ptr<WireClient> second;
  lab.run_in(NetLab::B, [&] { second = std::make_unique<WireClient>("127.0.0.1", vl_ipc_port); });
  ASSERT_TRUE(second->send_request(request));
  const auto frame = second->read_frame(20s);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->body, R"({"command": 2, "parameter": null})");

  vl_ipc_server_stop();
  vl_ipc_register_handler(VL_IPC_CMD_DONE, nullptr);
  vl_device_dtor(device);
}

}  // namespace
