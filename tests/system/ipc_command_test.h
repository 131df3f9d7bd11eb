// Command tests against a real streamerd: the daemon runs in lab host A with
// a HOME and a working directory of its own, the test speaks the wire
// format to it from host B.
//
//   TEST_F(IpcCommandTest, ...) {
//     EXPECT_EQ(answer(16, "{}"), R"({"command": 16, "parameter": null})");
//     EXPECT_EQ(errors(17, "{}"), (Errors{{22, "Invalid parameter list ..."}}));
//   }
#pragma once

#include "vltest/daemon.h"
#include "vlutil/vl_json_ref.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace ipctest {

struct Error {
  json_int_t type;
  std::string text;
  bool operator==(const Error&) const = default;
};
using Errors = std::vector<Error>;

inline std::ostream& operator<<(std::ostream& out, const Error& error) {
  return out << "{" << error.type << ", \"" << error.text << "\"}";
}

// The member names of a JSON object in their order.
inline std::vector<std::string> keys_of(const json_t* object) {
  std::vector<std::string> keys;
  const char* key = nullptr;
  json_t* value = nullptr;
  json_object_foreach(const_cast<json_t*>(object), key, value) keys.emplace_back(key);
  return keys;
}

inline VlJsonRef parse(const std::string& text) { return VlJsonRef(json_loads(text.c_str(), 0, nullptr)); }

class IpcCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { start(); }

  // Starts the daemon (with `args`) and connects the client.
  void start(const std::vector<std::string>& args = {}) {
    ASSERT_TRUE(lab_.ok()) << lab_.error();
    daemon_ = std::make_unique<vltest::Daemon>(lab_, vltest::NetLab::A, STREAMERD_PATH, args);
    ASSERT_TRUE(daemon_->wait_started()) << daemon_->process().output();
    client_ = daemon_->connect(vltest::NetLab::B);
    ASSERT_NE(client_, nullptr);
  }

  // The body of the response to {"command": command, "parameter": <parameter
  // text>}, byte for byte; empty when none arrives. The frame must be a
  // version 1 response whose length counts the body and its NUL.
  std::string answer(int command, const std::string& parameter) {
    const std::string request = R"({"command": )" + std::to_string(command) + R"(, "parameter": )" + parameter + "}";
    if (!client_->send_request(request)) return {};
    std::optional<ipc_test::Frame> frame = client_->read_frame(std::chrono::seconds(10));
    while (frame && frame->type == 2) frame = client_->read_frame(std::chrono::seconds(10));
    if (!frame) return {};
    EXPECT_EQ(frame->version, 1u);
    EXPECT_EQ(frame->type, 1u);
    EXPECT_EQ(frame->length, frame->body.size() + 1);
    return frame->body;
  }

  // The response's parameter.
  VlJsonRef result(int command, const std::string& parameter) {
    const VlJsonRef body = parse(answer(command, parameter));
    EXPECT_EQ(json_integer_value(json_object_get(body.get(), "command")), command);
    return VlJsonRef::borrow(json_object_get(body.get(), "parameter"));
  }

  // The errors a refused command answers with (the error array is the
  // parameter of its response), each checked for its members in the wire
  // order and for a source location.
  Errors errors(int command, const std::string& parameter) {
    const VlJsonRef body = parse(answer(command, parameter));
    EXPECT_EQ(keys_of(body.get()), (std::vector<std::string>{"command", "parameter"}));
    EXPECT_EQ(json_integer_value(json_object_get(body.get(), "command")), command);
    Errors found;
    const json_t* array = json_object_get(body.get(), "parameter");
    EXPECT_TRUE(json_is_array(array));
    for (std::size_t i = 0; i < json_array_size(array); ++i) {
      const json_t* error = json_array_get(array, i);
      EXPECT_EQ(keys_of(error), (std::vector<std::string>{"line", "file", "type", "text"}));
      EXPECT_GT(json_integer_value(json_object_get(error, "line")), 0);
      EXPECT_GT(json_string_length(json_object_get(error, "file")), 0u);
      found.push_back({json_integer_value(json_object_get(error, "type")),
                       json_string_value(json_object_get(error, "text"))});
    }
    return found;
  }

  vltest::NetLab lab_;
  std::unique_ptr<vltest::Daemon> daemon_;
  std::unique_ptr<ipc_test::WireClient> client_;
};

}  // namespace ipctest
