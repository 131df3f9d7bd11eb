// Framing over a real TCP connection on 127.0.0.1: the test writes the
// peer's bytes and reads frames on its side of the connection itself.
#include "vlutil/vl_ipc.h"

#include "vlsys/vl_log.h"
#include "vltest/log_capture.h"
#include "vltest/wait.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using namespace std::string_literals;

constexpr const char* loopback = "127.0.0.1";

struct Received {
  uint32_t version;
  uint32_t type;
  uint32_t length;
  std::string body;
  bool operator==(const Received&) const = default;
};

std::mutex received_mutex;
std::vector<Received> received;

void record(vl_ipc_connection*, const vl_ipc_message* m) {
  std::lock_guard<std::mutex> lock(received_mutex);
  received.push_back({m->version, m->type, m->length, std::string(m->body, m->length - 1)});
}

std::vector<Received> received_now() {
  std::lock_guard<std::mutex> lock(received_mutex);
  return received;
}

void clear_received() {
  std::lock_guard<std::mutex> lock(received_mutex);
  received.clear();
}

class IpcFraming : public ::testing::Test {
 protected:
  void SetUp() override {
    vl_socket_init();
    clear_received();
    listener_ = vl_socket_ctor(nullptr, loopback, 0, SOCK_STREAM);
    ASSERT_NE(listener_, nullptr);
    ASSERT_EQ(vl_socket_bind(listener_, nullptr, loopback, 0), 0);
    ASSERT_EQ(vl_socket_listen(listener_), 0);
    sockaddr_in local{};
    socklen_t length = sizeof local;
    getsockname(listener_->handle, reinterpret_cast<sockaddr*>(&local), &length);
    port_ = ntohs(local.sin_port);
  }
  void TearDown() override {
    vl_ipc_cleanup(&served_);
    if (peer_ >= 0) close(peer_);
    delete vl_socket_dtor(listener_);
  }

  // A plain peer connected to `served_`, on which the test reads frames.
  void connect_peer() {
    vl_ipc_cleanup(&served_);
    if (peer_ >= 0) close(peer_);
    clear_received();
    peer_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port_);
    to.sin_addr.s_addr = inet_addr(loopback);
    ASSERT_EQ(connect(peer_, reinterpret_cast<const sockaddr*>(&to), sizeof to), 0);
    served_.socket = vl_socket_accept(listener_);
    ASSERT_NE(served_.socket, nullptr);
    served_.category = log4c_category_get("velanto.ipc.srv");
    served_.callback = record;
  }
  void peer_writes(const std::string& bytes) {
    ASSERT_EQ(send(peer_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }
  // Everything the peer can read within the time.
  std::string peer_reads(std::size_t size) {
    std::string bytes;
    const auto deadline = Clock::now() + 5s;
    char buffer[4096];
    while (bytes.size() < size && Clock::now() < deadline) {
      pollfd p{peer_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      const ssize_t got = recv(peer_, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
  }

  vltest::LogCapture log_;
  vl_socket* listener_ = nullptr;
  uint16_t port_ = 0;
  int peer_ = -1;
  vl_ipc_connection served_;
};

const std::string request = "1,0,3:{}\0"s;
const Received request_received{1, 0, 3, "{}"};

TEST_F(IpcFraming, ReadsFramesAndSkipsOrEndsOnBadOnes) {
  struct Case {
    const char* name;
    std::string bytes;
    bool peer_closes;
    std::vector<int> results;  // of successive reads
    std::vector<Received> messages;
    std::string log;  // a message expected in full; empty: none checked
  };
  const std::string x32(32, 'x');
  const Received padded{1, 0, 3, "{}"};
  const std::vector<Case> cases = {
      {"request", request, false, {0}, {request_received}, ""},
      {"empty body", "1,0,0:" + request, false, {0, 0}, {request_received}, "Illegal IPC message received\n"},
      {"letters", "abc:" + request, false, {0, 0}, {request_received}, "could not read header abc:"},
      {"no NUL", "1,0,2:ab" + request, false, {0, 0}, {request_received}, ""},
      {"32 bytes header", "1,0," + std::string(27, '0') + "3" + "{}\0"s, false, {0}, {padded}, ""},
      {"32 bytes no header", x32 + request, false, {0, 0}, {request_received}, "could not read header " + x32},
      {"minus one", "1,0,-1:" + request, false, {0, 0}, {request_received}, "could not read header 1,0,-1:"},
      {"overflow", "1,0,4294967296:" + request, false, {0, 0}, {request_received}, ""},
      {"over limit", "1,0,16777217:", false, {-1}, {}, ""},
      {"huge", "1,0,4000000000:", false, {-1}, {}, ""},
      {"closed mid body", "1,0,10:abc", true, {-1}, {}, "Incomplete IPC message, IPC recv returned 0, errno: 0!"},
      {"closed", "", true, {-1}, {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    connect_peer();
    errno = 0;
    peer_writes(c.bytes);
    if (c.peer_closes) shutdown(peer_, SHUT_WR);
    std::vector<int> results;
    for (std::size_t i = 0; i < c.results.size(); ++i) results.push_back(vl_ipc_msg_handler(&served_));
    EXPECT_EQ(results, c.results);
    EXPECT_EQ(received_now(), c.messages);
    EXPECT_EQ(served_.socket == nullptr, c.results.back() < 0);
    if (!c.log.empty()) {
      bool found = false;
      for (const auto& r : log_.records()) found |= r.message == c.log;
      EXPECT_TRUE(found) << c.log;
    }
  }
}

TEST_F(IpcFraming, LargestBodyIsAccepted) {
  connect_peer();
  const std::string body(vl_ipc_max_length - 1, 'b');
  std::thread writer([&] { peer_writes("1,0," + std::to_string(vl_ipc_max_length) + ":" + body + '\0'); });
  EXPECT_EQ(vl_ipc_msg_handler(&served_), 0);
  writer.join();
  const auto messages = received_now();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].length, vl_ipc_max_length);
}

TEST_F(IpcFraming, SendWritesOneFrame) {
  connect_peer();
  const std::string text = R"({"command": 19, "parameter": {"a": 123}})";
  ASSERT_EQ(text.size(), 40u);
  const vl_ipc_message message{1, 1, 41, text.c_str()};
  ASSERT_EQ(vl_ipc_send_message(&served_, &message), 0);
  EXPECT_EQ(peer_reads(48), "1,1,41:" + text + '\0');
}

TEST_F(IpcFraming, SendToAVanishedPeerFailsWithoutSigpipe) {
  connect_peer();
  close(peer_);
  peer_ = -1;
  const vl_ipc_message message{1, 1, 3, "{}"};
  int result = 0;
  const auto deadline = Clock::now() + 5s;
  while (result == 0 && Clock::now() < deadline) result = vl_ipc_send_message(&served_, &message);
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(log_.contains("Can not send IPC message"));
}

TEST_F(IpcFraming, ClientReaderDeliversFramesAndClosesPromptly) {
  vl_ipc_connection* client = vl_ipc_connect(loopback, port_, record);
  ASSERT_NE(client, nullptr);
  vl_socket* accepted = vl_socket_accept(listener_);
  ASSERT_NE(accepted, nullptr);
  ASSERT_EQ(vl_socket_send(accepted, request.data(), request.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(request.size()));
  EXPECT_TRUE(vltest::wait_until([] { return !received_now().empty(); }, 5s));
  EXPECT_EQ(received_now(), std::vector<Received>{request_received});

  const auto start = Clock::now();
  vl_ipc_close(client);
  EXPECT_LT(Clock::now() - start, 500ms);
  for (const auto& r : log_.records())
    EXPECT_FALSE(r.priority <= VL_LOG_ERROR && r.message.find("IPC recv returned") != std::string::npos);
  delete vl_socket_dtor(accepted);
}

}  // namespace
