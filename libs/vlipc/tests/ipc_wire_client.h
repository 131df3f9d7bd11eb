// A control client that speaks the wire format byte for byte over a plain
// TCP socket, so that the server is tested from outside.
#pragma once

#include "vlutil/vl_json_ref.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace ipc_test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Frame {
  uint32_t version = 0;
  uint32_t type = 0;
  uint32_t length = 0;
  std::string body;  // without the terminating NUL

  // The parsed body (null when it is not JSON).
  VlJsonRef json() const { return VlJsonRef(json_loads(body.c_str(), 0, nullptr)); }
  json_int_t command() const { return json_integer_value(json_object_get(json().get(), "command")); }
};

// "<version>,<type>,<length>:" + text + NUL.
inline std::string frame_bytes(const std::string& text, uint32_t type = 0, uint32_t version = 1) {
  return std::to_string(version) + "," + std::to_string(type) + "," + std::to_string(text.size() + 1) + ":" +
         text + std::string(1, '\0');
}

class WireClient {
 public:
  // Connects from the calling thread's network namespace.
  WireClient(const char* address, uint16_t port, int receive_buffer = 0) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    if (receive_buffer > 0) setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(port);
    server.sin_addr.s_addr = inet_addr(address);
    connected_ = connect(fd_, reinterpret_cast<const sockaddr*>(&server), sizeof server) == 0;
  }
  ~WireClient() { close(fd_); }
  WireClient(const WireClient&) = delete;
  WireClient& operator=(const WireClient&) = delete;

  bool connected() const { return connected_; }

  bool send_raw(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t sent = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (sent <= 0) return false;
      done += static_cast<std::size_t>(sent);
    }
    return true;
  }
  bool send_request(const std::string& text) { return send_raw(frame_bytes(text)); }

  // The next frame, or none when the time is up, the peer closed or the
  // bytes are no well-formed frame.
  std::optional<Frame> read_frame(std::chrono::milliseconds timeout = 5s) {
    const auto deadline = Clock::now() + timeout;
    std::string header;
    char c = 0;
    while (header.size() < 32 && read_exact(&c, 1, deadline) && c != ':') header += c;
    if (c != ':') return std::nullopt;
    Frame frame;
    char check[48];
    if (std::sscanf(header.c_str(), "%u,%u,%u", &frame.version, &frame.type, &frame.length) != 3) return std::nullopt;
    std::snprintf(check, sizeof check, "%u,%u,%u", frame.version, frame.type, frame.length);
    if (header != check || frame.length == 0) return std::nullopt;
    std::string body(frame.length, '\0');
    if (!read_exact(body.data(), body.size(), deadline) || body.back() != '\0') return std::nullopt;
    body.pop_back();
    frame.body = std::move(body);
    return frame;
  }

  // True when bytes are waiting or the peer closed.
  bool readable_now() const {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
  }

  // True when the server closed the connection before the time was up.
  bool closed_by_peer(std::chrono::milliseconds timeout = 2s) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return false;
    char c = 0;
    return recv(fd_, &c, 1, 0) <= 0;
  }

 private:
  bool read_exact(char* buffer, std::size_t size, Clock::time_point deadline) {
    std::size_t done = 0;
    while (done < size) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      pollfd p{fd_, POLLIN, 0};
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
      const ssize_t got = recv(fd_, buffer + done, size - done, 0);
      if (got <= 0) return false;
      done += static_cast<std::size_t>(got);
    }
    return true;
  }

  int fd_;
  bool connected_ = false;
};

}  // namespace ipc_test
