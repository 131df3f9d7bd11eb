// Events pushed to a client: the control server with the daemon's handlers
// runs in lab host A for a device of the lab, the client speaks the wire
// format from host B, and the test publishes as a daemon module would.
#include "vlipc/vlipc_event.h"
#include "vlipc/vlipc_handlers.h"

#include "vltest/device_lab.h"
#include "vltest/ipc_wire_client.h"
#include "vltest/log_capture.h"
#include "vlutil/vl_event.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using namespace std::chrono_literals;
using vltest::NetLab;

constexpr const char* originator = "lab_client";

class EventPush : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lab_.ok()) << lab_.net().error();
    device_ = lab_.make_device(NetLab::A);
    ASSERT_NE(device_, nullptr);
    vlipc_register_handlers();
    int started = -1;
    lab_.run_in(NetLab::A, [&] { started = vl_ipc_server_start(device_, &device_->control_lock); });
    ASSERT_EQ(started, 0);
    lab_.run_in(NetLab::B, [&] { client_ = std::make_unique<ipc_test::WireClient>(NetLab::link_address[NetLab::A], vl_ipc_port); });
    ASSERT_TRUE(client_->connected());
  }
  void TearDown() override {
    client_.reset();
    vl_ipc_server_stop();
    vl_event_hdl_unregister(1, originator);
    for (uint32_t command = VL_IPC_CMD_INIT; command < VL_IPC_CMD_COUNT; ++command)
      vl_ipc_register_handler(command, nullptr);
  }

  // The body of the next frame of `type`, byte for byte; empty when none comes.
  std::string next_body(uint32_t type) {
    const std::optional<ipc_test::Frame> frame = client_->read_frame(10s);
    if (!frame) return {};
    EXPECT_EQ(frame->version, 1u);
    EXPECT_EQ(frame->type, type);
    EXPECT_EQ(frame->length, frame->body.size() + 1);
    return frame->body;
  }
  std::string add_handler(json_int_t id) {
    client_->send_request(R"({"command": 22, "parameter": {"event_id": )" + std::to_string(id) +
                          R"(, "event_originator": ")" + originator + R"(", "event_exclusive": 0}})");
    return next_body(1);
  }

  vltest::LogCapture log_;
  vltest::DeviceLab lab_;
  VlDevice* device_ = nullptr;
  std::unique_ptr<ipc_test::WireClient> client_;
};

TEST_F(EventPush, AnEventOfASubscribedIdArrivesOnceAsAnEventFrame) {
  const std::string added = R"({"command": 22, "parameter": {}})";
  ASSERT_EQ(add_handler(201), added);
  ASSERT_EQ(add_handler(201), added);  // one handler all the same

  VlJsonRef data(json_pack("{s:i}", "level", 3));
  ASSERT_EQ(vl_event_publish(1, data.get()), 0);
  EXPECT_EQ(next_body(2), R"({"event_id": 1, "event_originator": "lab_client", "event_data": {"level": 3}})");
  ASSERT_EQ(vl_event_publish(1, nullptr), 0);
  EXPECT_EQ(next_body(2), R"({"event_id": 1, "event_originator": "lab_client", "event_data": null})");

  vl_event_hdl_unregister(1, originator);
  EXPECT_FALSE(vl_event_is_registered(1, originator));
}

TEST_F(EventPush, ReservedIdsAreRefusedWithTheirTexts) {
  const std::string low = "Invalid event id to add handler for(reserved for local streamer events)!";
  const std::string high = "Invalid event id to add handler for(reserved for streamer specific communication)!";
  const struct {
    json_int_t id;
    std::string text;
  } cases[] = {{200, low}, {400, high}, {-1, high}};
  for (const auto& c : cases) {
    const VlJsonRef body(json_loads(add_handler(c.id).c_str(), 0, nullptr));
    EXPECT_EQ(json_integer_value(json_object_get(body.get(), "command")), 22) << c.id;
    const json_t* errors = json_object_get(body.get(), "parameter");
    ASSERT_EQ(json_array_size(errors), 1u) << c.id;
    EXPECT_EQ(json_integer_value(json_object_get(json_array_get(errors, 0), "type")), 22) << c.id;
    EXPECT_STREQ(json_string_value(json_object_get(json_array_get(errors, 0), "text")), c.text.c_str()) << c.id;
  }
  EXPECT_EQ(vl_event_publish(0, nullptr), -1);
  EXPECT_EQ(vl_event_publish(200, nullptr), -1);
}

}  // namespace
