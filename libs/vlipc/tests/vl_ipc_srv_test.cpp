// The control server over TCP on 127.0.0.1, driven byte for byte from
// outside: dispatching, error responses, one client at a time, stopping,
// and event pushes beside responses.
#include "vlipc/vl_ipc_srv.h"

#include "vltest/ipc_wire_client.h"
#include "vl/vl_device.h"
#include "vlipc/vl_ipc_lowlevel.h"
#include "vlipc/vlipc_event.h"
#include "vlutil/vl_event.h"
#include "vltest/log_capture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

using namespace ipc_test;

constexpr const char* loopback = "127.0.0.1";
constexpr std::size_t big_size = 256 * 1024;

vl_mutex control_lock = {PTHREAD_MUTEX_INITIALIZER};

bool control_lock_held() { return pthread_mutex_trylock(&control_lock.handle) == EBUSY; }

json_t* echo(VlDevice*, json_t* parameter) {
  return json_pack("{s:O, s:b}", "echo", parameter, "locked", control_lock_held());
}
json_t* no_value(VlDevice*, json_t*) { return nullptr; }
json_t* big(VlDevice*, json_t*) { return json_string(std::string(big_size, 'r').c_str()); }

// Removes an event handler however the test ends.
struct Unsubscribe {
  int32_t id;
  const char* originator;
  ~Unsubscribe() { vl_event_hdl_unregister(id, originator); }
};

class IpcServer : public ::testing::Test {
 protected:
  void SetUp() override {
    device_ = vl_device_ctor(nullptr);
    ASSERT_NE(device_, nullptr);
    vl_ipc_register_handler(VL_IPC_CMD_INIT, echo);
    vl_ipc_register_handler(VL_IPC_CMD_DONE, no_value);
    vl_ipc_register_handler(VL_IPC_CMD_SAVE_CONFIG, big);
    vlipc_event_register();
    ASSERT_EQ(vl_ipc_server_start(device_, &control_lock, loopback, 0), 0);
    port_ = vl_ipc_bound_port();
    ASSERT_NE(port_, 0);
  }
  void TearDown() override {
    vl_ipc_server_stop();
    for (uint32_t c = 1; c < VL_IPC_CMD_COUNT; ++c) vl_ipc_register_handler(c, nullptr);
    vl_device_dtor(device_);
  }

  // The response to `text`, or none.
  std::optional<Frame> round_trip(WireClient& client, const std::string& text) {
    if (!client.send_request(text)) return std::nullopt;
    return client.read_frame();
  }

  vltest::LogCapture log_;
  VlDevice* device_ = nullptr;
  uint16_t port_ = 0;
};

// The error entries of an error response, or an empty list.
std::vector<std::pair<json_int_t, std::string>> errors_of(const Frame& frame) {
  std::vector<std::pair<json_int_t, std::string>> errors;
  const VlJsonRef json = frame.json();
  json_t* list = json_object_get(json.get(), "parameter");
  for (std::size_t i = 0; i < json_array_size(list); ++i) {
    json_t* entry = json_array_get(list, i);
    errors.emplace_back(json_integer_value(json_object_get(entry, "type")),
                        json_string_value(json_object_get(entry, "text")));
  }
  return errors;
}

TEST_F(IpcServer, AnswersWithTheHandlersResultUnderTheControlLock) {
  WireClient client(loopback, port_);
  ASSERT_TRUE(client.connected());
  const auto frame = round_trip(client, R"({"command": 1, "parameter": {"a": 1}})");
  ASSERT_TRUE(frame);
  const std::string body = R"({"command": 1, "parameter": {"echo": {"a": 1}, "locked": true}})";
  EXPECT_EQ(frame->version, 1u);
  EXPECT_EQ(frame->type, 1u);
  EXPECT_EQ(frame->length, body.size() + 1);
  EXPECT_EQ(frame->body, body);
}

TEST_F(IpcServer, CommandNumberCountsWithItsLow32Bits) {
  WireClient client(loopback, port_);
  const auto frame = round_trip(client, R"({"command": 4294967297, "parameter": null})");
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->body, R"({"command": 1, "parameter": {"echo": null, "locked": true}})");
}

TEST_F(IpcServer, HandlerWithoutValueAnswersNull) {
  WireClient client(loopback, port_);
  const auto frame = round_trip(client, R"({"command": 2, "parameter": {}})");
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->body, R"({"command": 2, "parameter": null})");
}

TEST_F(IpcServer, RefusedRequestsGetOneErrorAndTheConnectionStays) {
  struct Case {
    const char* body;
    int type;
    const char* text;  // null: not checked
  };
  const Case cases[] = {
      {R"({"command": 0, "parameter": {}})", VL_IPC_ERR_BAD_COMMAND, "Invalid command receicved: 0"},
      {R"({"command": 26, "parameter": {}})", VL_IPC_ERR_BAD_COMMAND, "Invalid command receicved: 26"},
      {R"({"command": -1, "parameter": {}})", VL_IPC_ERR_BAD_COMMAND, "Invalid command receicved: -1"},
      {R"({"command": 5, "parameter": {}})", VL_IPC_ERR_BAD_COMMAND, "Invalid command receicved: 5"},
      {R"({"command": "1", "parameter": {}})", VL_IPC_ERR_BAD_COMMAND, "Invalid command receicved: 0"},
      {R"({"command": 1})", VL_IPC_ERR_NO_PARAMETER, "Missing parameter for command init"},
      {"not json", VL_IPC_ERR_NOT_JSON, nullptr},
      {"42", VL_IPC_ERR_NOT_JSON, nullptr},
  };
  WireClient client(loopback, port_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    const auto frame = round_trip(client, c.body);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->type, 1u);
    EXPECT_EQ(frame->command(), 0);
    const auto errors = errors_of(*frame);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].first, c.type);
    if (c.text) {
      EXPECT_EQ(errors[0].second, c.text);
    }
  }
}

TEST_F(IpcServer, UnansweredFramesAndTheVersionErrorComingWithTheNextErrorResponse) {
  WireClient client(loopback, port_);
  ASSERT_TRUE(client.send_raw(frame_bytes(R"({"command": 1, "parameter": {}})", 1)));
  ASSERT_TRUE(client.send_raw(frame_bytes(R"({"command": 1, "parameter": {}})", 2)));
  ASSERT_TRUE(client.send_raw(frame_bytes(R"({"v": 2})", 0, 2)));
  const auto frame = round_trip(client, R"({"command": 0, "parameter": {}})");
  ASSERT_TRUE(frame);
  const auto errors = errors_of(*frame);
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].first, VL_IPC_ERR_BAD_COMMAND);
  EXPECT_EQ(errors[1].first, VL_IPC_ERR_BAD_MESSAGE);
  EXPECT_EQ(errors[1].second, R"(Can't handle message(v2): {"v": 2})");
}

TEST_F(IpcServer, UnansweredErrorsKeepOnlyTheNewest) {
  const int sent = static_cast<int>(vl_ipc_error_backlog) + 6;
  WireClient client(loopback, port_);
  for (int n = 0; n < sent; ++n)
    ASSERT_TRUE(client.send_raw(frame_bytes("{\"n\": " + std::to_string(n) + "}", 0, 2)));
  const auto frame = round_trip(client, R"({"command": 0, "parameter": {}})");
  ASSERT_TRUE(frame);
  const auto errors = errors_of(*frame);
  ASSERT_EQ(errors.size(), vl_ipc_error_backlog + 1);
  EXPECT_EQ(errors[1].second, "Can't handle message(v2): {\"n\": " + std::to_string(sent - 1) + "}");
  EXPECT_EQ(errors.back().second, "Can't handle message(v2): {\"n\": 6}");
}

TEST_F(IpcServer, SecondClientIsServedOnlyOnceTheFirstHasGone) {
  auto first = std::make_unique<WireClient>(loopback, port_);
  ASSERT_TRUE(round_trip(*first, R"({"command": 2, "parameter": {}})"));
  WireClient second(loopback, port_);
  ASSERT_TRUE(second.connected());
  ASSERT_TRUE(second.send_request(R"({"command": 2, "parameter": {}})"));
  // The first is still served after the second's request arrived...
  ASSERT_TRUE(round_trip(*first, R"({"command": 2, "parameter": {}})"));
  EXPECT_FALSE(second.readable_now());
  // ...and the second as soon as the first disconnects.
  first.reset();
  const auto frame = second.read_frame();
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->body, R"({"command": 2, "parameter": null})");
}

TEST_F(IpcServer, StopIsPromptWhileAnIdleClientIsServed) {
  WireClient client(loopback, port_);
  ASSERT_TRUE(round_trip(client, R"({"command": 2, "parameter": {}})"));
  const auto start = Clock::now();
  vl_ipc_server_stop();
  EXPECT_LT(Clock::now() - start, 500ms);
  EXPECT_TRUE(client.closed_by_peer());
}

TEST_F(IpcServer, SubscribedEventArrivesAsEventFrame) {
  WireClient client(loopback, port_);
  const auto added =
      round_trip(client, R"({"command": 22, "parameter": {"event_id": 242, "event_originator": "ipc_test",)"
                         R"( "event_exclusive": 0}})");
  const Unsubscribe unsubscribe{42, "ipc_test"};
  ASSERT_TRUE(added);
  ASSERT_EQ(added->body, R"({"command": 22, "parameter": {}})");

  const VlJsonRef data(json_pack("{s:i}", "x", 1));
  ASSERT_EQ(vl_event_publish(42, data.get()), 0);
  auto frame = client.read_frame();
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->type, 2u);
  EXPECT_EQ(frame->body, R"({"event_id": 42, "event_originator": "ipc_test", "event_data": {"x": 1}})");

  ASSERT_EQ(vl_event_publish(42, nullptr), 0);
  frame = client.read_frame();
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->body, R"({"event_id": 42, "event_originator": "ipc_test", "event_data": null})");
}

TEST_F(IpcServer, EventsNeverInterleaveWithResponses) {
  constexpr int count = 16;
  ASSERT_EQ(vl_event_hdl_register(7, "flood", vl_ipc_push_event, true), 0);
  const Unsubscribe unsubscribe{7, "flood"};
  // A small receive window makes every frame go out in several writes,
  // where frames of two writers could mix.
  WireClient client(loopback, port_, 4096);
  ASSERT_TRUE(round_trip(client, R"({"command": 2, "parameter": {}})"));
  const VlJsonRef data(json_string(std::string(big_size, 'e').c_str()));
  for (int i = 0; i < count; ++i) {
    ASSERT_EQ(vl_event_publish(7, data.get()), 0);
    ASSERT_TRUE(client.send_request(R"({"command": 3, "parameter": {}})"));
  }
  const std::string response = R"({"command": 3, "parameter": ")" + std::string(big_size, 'r') + "\"}";
  const std::string event =
      R"({"event_id": 7, "event_originator": "flood", "event_data": ")" + std::string(big_size, 'e') + "\"}";
  int responses = 0;
  int events = 0;
  for (int i = 0; i < 2 * count; ++i) {
    const auto frame = client.read_frame();
    ASSERT_TRUE(frame) << "frame " << i;
    const bool is_event = frame->type == VL_IPC_EVENT;
    ASSERT_EQ(frame->body, is_event ? event : response) << "frame " << i;
    ++(is_event ? events : responses);
  }
  EXPECT_EQ(responses, count);
  EXPECT_EQ(events, count);
}

TEST_F(IpcServer, BusyAddressFailsTheStart) {
  vl_ipc_server_stop();
  vl_socket* taken = vl_socket_ctor(nullptr, loopback, 0, SOCK_STREAM);
  ASSERT_NE(taken, nullptr);
  ASSERT_EQ(vl_socket_bind(taken, nullptr, loopback, 0), 0);
  ASSERT_EQ(vl_socket_listen(taken), 0);
  sockaddr_in local{};
  socklen_t length = sizeof local;
  getsockname(vl_socket_handle(taken), reinterpret_cast<sockaddr*>(&local), &length);
  EXPECT_EQ(vl_ipc_server_start(device_, &control_lock, loopback, ntohs(local.sin_port)), -1);
  EXPECT_TRUE(log_.contains("Can not create VELANTO IPC server!"));
  delete vl_socket_dtor(taken);
}

}  // namespace
