#include "linuxptp/ptp4l_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned domain_count = 256;
constexpr int drain_limit = 64;

std::atomic<unsigned> socket_counter{0};

int ms_until(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

bool unix_address(const std::string& path, sockaddr_un* address) {
  *address = sockaddr_un{};
  address->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// A path beside ptp4l's socket, unique in this process.
std::string own_socket_path(const std::string& server_path) {
  std::filesystem::path dir = std::filesystem::path(server_path).parent_path();
  if (dir.empty()) dir = ".";
  return (dir / ("streamerd." + std::to_string(getpid()) + "." + std::to_string(socket_counter++))).string();
}

}  // namespace

struct VlPtp4lClient::Received {
  uint8_t bytes[vl_ptp_mgmt_max_size];
  std::size_t size = 0;
  bool oversized = false;
  std::span<const uint8_t> datagram() const { return {bytes, size}; }
};

const char* vl_ptp4l_result_text(VlPtp4lResult result) {
  switch (result) {
    case VlPtp4lResult::ok:
      return "ok";
    case VlPtp4lResult::unreachable:
      return "not reachable";
    case VlPtp4lResult::timeout:
      return "no answer";
    case VlPtp4lResult::bad_answer:
      return "bad answer";
    case VlPtp4lResult::refused:
      return "refused";
  }
  return "unknown";
}

VlPtp4lClient::VlPtp4lClient(std::string server_path, int timeout_ms)
    : server_path_(std::move(server_path)), timeout_ms_(timeout_ms) {
  identity_.port = static_cast<uint16_t>(getpid());
}

VlPtp4lClient::~VlPtp4lClient() { close(); }

VlPtp4lResult VlPtp4lClient::get(uint8_t domain, uint16_t id, VlPtp4lAnswer* answer) {
  return exchange(domain, vl_ptp_action_get, id, {}, answer);
}

VlPtp4lResult VlPtp4lClient::set(uint8_t domain, uint16_t id, std::span<const uint8_t> data,
                                 VlPtp4lAnswer* answer) {
  return exchange(domain, vl_ptp_action_set, id, data, answer);
}

VlPtp4lResult VlPtp4lClient::exchange(uint8_t domain, uint8_t action, uint16_t id, std::span<const uint8_t> data,
                                      VlPtp4lAnswer* answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open()) return VlPtp4lResult::unreachable;
  drain();
  const uint16_t sequence = next_sequence_++;
  const Sent sent = send(domain, action, id, data, sequence);
  if (sent != Sent::ok) {
    close();
    return sent == Sent::full ? VlPtp4lResult::timeout : VlPtp4lResult::unreachable;
  }
  const VlPtp4lResult result = await_answer(sequence, id, answer);
  if (result == VlPtp4lResult::timeout) close();
  return result;
}

// Answers to earlier requests (a time-out, another port) are passed over;
// anything that is no management message at all ends the wait.
VlPtp4lResult VlPtp4lClient::await_answer(uint16_t sequence, uint16_t id, VlPtp4lAnswer* answer) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms_);
  Received received;
  while (Clock::now() < deadline) {
    if (!receive(ms_until(deadline), &received)) continue;
    VlPtpMgmtMessage m;
    answer->parse = received.oversized ? VlPtpMgmtParse::bad_length : vl_ptp_mgmt_parse(received.datagram(), &m);
    if (answer->parse != VlPtpMgmtParse::ok) return VlPtp4lResult::bad_answer;
    if (m.sequence != sequence) continue;
    if (m.action != vl_ptp_action_response || m.id != id) return VlPtp4lResult::bad_answer;
    answer->domain = m.domain;
    if (m.tlv_type == vl_ptp_tlv_error_status) {
      answer->error = m.error;
      return VlPtp4lResult::refused;
    }
    answer->data.assign(m.data.begin(), m.data.end());
    return VlPtp4lResult::ok;
  }
  return VlPtp4lResult::timeout;
}

int VlPtp4lClient::find_domain(uint8_t first) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open()) return -1;
  drain();
  const uint16_t base = next_sequence_;
  next_sequence_ = static_cast<uint16_t>(next_sequence_ + domain_count);
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(vl_ptp4l_domain_search_ms);
  unsigned asked = 0;
  Received received;
  while (Clock::now() < deadline) {
    int wait_ms = ms_until(deadline);
    if (asked < domain_count) {
      const uint16_t sequence = static_cast<uint16_t>(base + asked);
      const Sent sent = send(static_cast<uint8_t>(first + asked), vl_ptp_action_get, vl_ptp_mid_default_data_set, {},
                             sequence);
      if (sent == Sent::failed) break;
      if (sent == Sent::ok) ++asked;
      wait_ms = sent == Sent::ok ? 0 : 1;  // a full queue: let ptp4l read
    }
    if (!receive(wait_ms, &received) || received.oversized) continue;
    VlPtpMgmtMessage m;
    if (vl_ptp_mgmt_parse(received.datagram(), &m) != VlPtpMgmtParse::ok) continue;
    const bool ours = static_cast<uint16_t>(m.sequence - base) < asked;
    if (ours && m.tlv_type == vl_ptp_tlv_management && m.id == vl_ptp_mid_default_data_set) return m.domain;
  }
  close();
  return -1;
}

VlPtp4lClient::Sent VlPtp4lClient::send(uint8_t domain, uint8_t action, uint16_t id, std::span<const uint8_t> data,
                                        uint16_t sequence) {
  VlPtpMgmtMessage m;
  m.domain = domain;
  m.sequence = sequence;
  m.source = identity_;
  m.action = action;
  m.id = id;
  m.data = data;
  uint8_t request[vl_ptp_mgmt_max_size];
  const int size = vl_ptp_mgmt_write(m, request);
  sockaddr_un to;
  if (size < 0 || !unix_address(server_path_, &to)) return Sent::failed;
  const ssize_t n = sendto(fd_, request, static_cast<size_t>(size), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&to),
                           sizeof to);
  if (n == size) return Sent::ok;
  return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? Sent::full : Sent::failed;
}

// False when nothing arrived within `timeout_ms`.
bool VlPtp4lClient::receive(int timeout_ms, Received* received) {
  pollfd pfd{fd_, POLLIN, 0};
  if (poll(&pfd, 1, timeout_ms) <= 0) return false;
  const ssize_t n = recv(fd_, received->bytes, sizeof received->bytes, MSG_TRUNC | MSG_DONTWAIT);
  if (n < 0) return false;
  received->oversized = static_cast<std::size_t>(n) > sizeof received->bytes;
  received->size = received->oversized ? sizeof received->bytes : static_cast<std::size_t>(n);
  return true;
}

bool VlPtp4lClient::open() {
  if (fd_ >= 0) return true;
  sockaddr_un own;
  const std::string path = own_socket_path(server_path_);
  if (!unix_address(path, &own)) return false;
  fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  unlink(path.c_str());
  if (bind(fd_, reinterpret_cast<sockaddr*>(&own), sizeof own) != 0) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  own_path_ = path;
  return true;
}

void VlPtp4lClient::close() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  unlink(own_path_.c_str());
  own_path_.clear();
}

// Left-overs of earlier exchanges.
void VlPtp4lClient::drain() {
  Received received;
  for (int i = 0; i < drain_limit && receive(0, &received); ++i) {
  }
}
