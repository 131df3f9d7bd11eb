// Loopback sockets and SDP records for the RTP engine's tests. Packets go
// to 127.0.0.1 only.
#pragma once

#include "vlsys/host_network.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace rtp_test {

inline vl_host_iface loopback_interface() {
  vl_host_iface iface{};
  std::strncpy(iface.name, "lo", sizeof iface.name);
  iface.addr = htonl(INADDR_LOOPBACK);
  iface.mask = htonl(0xFF000000);
  return iface;
}

struct SdpOptions {
  std::string encoding = "L24/48000/2";
  int payload_type = 98;
  uint16_t port = 5004;
  std::string address = "127.0.0.1";
  bool sync_time = true;
  uint32_t sync = 0;
};

inline std::string sdp(const SdpOptions& o) {
  std::string text = "v=0\no=- 1 1 IN IP4 127.0.0.1\ns=Loopback stream\nt=0 0\n";
  text += "m=audio " + std::to_string(o.port) + " RTP/AVP " + std::to_string(o.payload_type) + "\n";
  text += "c=IN IP4 " + o.address + "/32\n";
  text += "a=rtpmap:" + std::to_string(o.payload_type) + " " + o.encoding + "\n";
  if (o.sync_time) text += "a=sync-time:" + std::to_string(o.sync) + "\n";
  return text;
}

// A UDP socket on 127.0.0.1 with an ephemeral port.
class LoopbackSocket {
 public:
  LoopbackSocket() {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~LoopbackSocket() { close(fd_); }
  LoopbackSocket(const LoopbackSocket&) = delete;
  LoopbackSocket& operator=(const LoopbackSocket&) = delete;

  uint16_t port() const { return port_; }

  // The next datagram, or empty after `timeout_ms`.
  std::vector<uint8_t> receive(int timeout_ms = 200) {
    pollfd pfd{fd_, POLLIN, 0};
    if (poll(&pfd, 1, timeout_ms) <= 0) return {};
    std::vector<uint8_t> datagram(9216);
    const ssize_t n = recv(fd_, datagram.data(), datagram.size(), 0);
    datagram.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return datagram;
  }

  void send_to(uint16_t port, const std::vector<uint8_t>& datagram) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// A free UDP port on 127.0.0.1 at the time of asking.
inline uint16_t free_port() {
  LoopbackSocket probe;
  return probe.port();
}

}  // namespace rtp_test
