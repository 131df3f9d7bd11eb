// Test helpers for the ptp4l modules: hex byte arrays, data set encoders,
// and a scripted management responder that speaks ptp4l's protocol on a
// socket of its own (it ignores requests in another domain, as ptp4l
// does) and can be told to answer wrongly.
#pragma once

#include "linuxptp/ptp_mgmt.h"
#include "vltest/temp_dir.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ptp4ltest {

using Bytes = std::vector<uint8_t>;

// "0d 02 00 36" or "0d020036": bytes from hex pairs, blanks ignored.
inline Bytes hex(const char* text) {
  Bytes bytes;
  std::string digits;
  for (const char* p = text; *p; ++p)
    if (*p != ' ') digits += *p;
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
    bytes.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return bytes;
}

inline void put16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}

inline void put64(Bytes& b, uint64_t v) {
  for (int shift = 56; shift >= 0; shift -= 8) b.push_back(static_cast<uint8_t>(v >> shift));
}

inline void put_identity(Bytes& b, const uint8_t (&id)[8]) { b.insert(b.end(), id, id + 8); }

// What the scripted ptp4l reports.
struct Ptp4lState {
  uint8_t domain = 0;
  uint8_t port_state = 9;
  int64_t offset_ns = 200;
  uint8_t clock_identity[8] = {0x02, 0x76, 0x6C, 0xFF, 0xFE, 0x00, 0x00, 0x02};
  uint8_t gm_identity[8] = {0x00, 0x1D, 0xC1, 0xFF, 0xFE, 0x12, 0x34, 0x56};
  uint8_t gm_class = 6;
  uint8_t gm_accuracy = 0x21;
  uint8_t gm_priority1 = 100;
  uint8_t gm_priority2 = 101;
  uint8_t priority1 = 128;
  uint8_t priority2 = 128;
  bool slave_only = false;
  int16_t utc_offset = 37;
  uint8_t time_flags = vl_ptp_tp_ptp_timescale | vl_ptp_tp_utc_offset_valid;
  int8_t log_announce = 1;
  int8_t log_sync = -4;
  uint8_t delay_mechanism = 1;
  const char* master_ip = nullptr;  // a unicast master table with this selected entry
};

inline Bytes default_ds(const Ptp4lState& s) {
  Bytes b = {static_cast<uint8_t>(0x01 | (s.slave_only ? 0x02 : 0)), 0, 0, 1, s.priority1, 248, 0xFE, 0xFF, 0xFF,
             s.priority2};
  put_identity(b, s.clock_identity);
  b.push_back(s.domain);
  b.push_back(0);
  return b;
}

inline Bytes current_ds(const Ptp4lState& s) {
  Bytes b = {0, 1};
  put64(b, static_cast<uint64_t>(s.offset_ns * 65536));
  put64(b, 0);
  return b;
}

inline Bytes parent_ds(const Ptp4lState& s) {
  Bytes b;
  put_identity(b, s.gm_identity);
  b.insert(b.end(), {0, 1, 0, 0, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, s.gm_priority1, s.gm_class, s.gm_accuracy, 0x4E,
                     0x5D, s.gm_priority2});
  put_identity(b, s.gm_identity);
  return b;
}

inline Bytes time_properties(const Ptp4lState& s) {
  Bytes b;
  put16(b, static_cast<uint16_t>(s.utc_offset));
  b.push_back(s.time_flags);
  b.push_back(0xA0);
  return b;
}

inline Bytes port_ds(const Ptp4lState& s) {
  Bytes b;
  put_identity(b, s.clock_identity);
  put16(b, 1);
  b.insert(b.end(), {s.port_state, 0, 0, 0, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(s.log_announce), 3,
                     static_cast<uint8_t>(s.log_sync), s.delay_mechanism, 0, 2});
  return b;
}

// One selected IPv4 entry.
inline Bytes unicast_master_table(const char* address) {
  Bytes b = {0, 1};
  const uint8_t entry_identity[8] = {0xAA, 0xBB, 0xCC, 0xFF, 0xFE, 0x00, 0x00, 0x01};
  put_identity(b, entry_identity);
  b.insert(b.end(), {0, 1, 6, 0x21, 0x4E, 0x5D, 1, 9, 128, 128, 0, 1, 0, 4});
  in_addr ip{};
  inet_pton(AF_INET, address, &ip);
  const auto* p = reinterpret_cast<const uint8_t*>(&ip.s_addr);
  b.insert(b.end(), p, p + 4);
  return b;
}

// How the responder spoils its answers.
enum class Fault { none, silent, truncated, oversized, garbage, length_beyond_datagram, unknown_tlv, short_data };

// A management responder on `<dir>/ptp4l`, answering on a thread of its own
// until destroyed.
class ScriptedPtp4l {
 public:
  explicit ScriptedPtp4l(const std::string& path) : path_(path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    unlink(path.c_str());
    bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    wake_ = eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { serve(); });
  }
  ~ScriptedPtp4l() {
    const uint64_t one = 1;
    if (write(wake_, &one, sizeof one) != sizeof one) std::terminate();
    thread_.join();
    close(fd_);
    close(wake_);
    unlink(path_.c_str());
  }
  ScriptedPtp4l(const ScriptedPtp4l&) = delete;
  ScriptedPtp4l& operator=(const ScriptedPtp4l&) = delete;

  bool ok() const { return bound_ && wake_ >= 0; }
  void set(const Ptp4lState& state) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = state;
  }
  Ptp4lState state() {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
  }
  void set_fault(Fault fault) { fault_.store(fault); }
  // Requests seen in the responder's domain, and in any other.
  int answered() const { return answered_.load(); }
  int ignored() const { return ignored_.load(); }

 private:
  void serve() {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
    while (poll(fds, 2, -1) >= 0 && !(fds[1].revents & POLLIN)) {
      if (fds[0].revents & POLLIN) answer_one();
    }
  }

  void answer_one() {
    uint8_t request[vl_ptp_mgmt_max_size];
    sockaddr_un from{};
    socklen_t from_length = sizeof from;
    const ssize_t n = recvfrom(fd_, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&from), &from_length);
    VlPtpMgmtMessage m;
    if (n <= 0 || vl_ptp_mgmt_parse({request, static_cast<std::size_t>(n)}, &m) != VlPtpMgmtParse::ok) return;
    Bytes reply = respond(m);
    if (reply.empty()) return;
    spoil(reply);
    if (fault_.load() == Fault::silent) return;
    sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), from_length);
  }

  Bytes respond(const VlPtpMgmtMessage& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (request.domain != state_.domain) {
      ++ignored_;
      return {};
    }
    ++answered_;
    VlPtpMgmtMessage reply;
    reply.domain = state_.domain;
    reply.sequence = request.sequence;
    std::memcpy(reply.source.clock, state_.clock_identity, 8);
    reply.target = request.source;
    reply.action = vl_ptp_action_response;
    reply.id = request.id;
    const Bytes data = data_for(request, &reply);
    reply.data = data;
    Bytes bytes(vl_ptp_mgmt_max_size);
    bytes.resize(static_cast<std::size_t>(vl_ptp_mgmt_write(reply, bytes)));
    return bytes;
  }

  // Called with the state locked.
  Bytes data_for(const VlPtpMgmtMessage& request, VlPtpMgmtMessage* reply) {
    if (request.action == vl_ptp_action_set) return apply_set(request, reply);
    switch (request.id) {
      case vl_ptp_mid_default_data_set:
        return default_ds(state_);
      case vl_ptp_mid_current_data_set:
        return current_ds(state_);
      case vl_ptp_mid_parent_data_set:
        return parent_ds(state_);
      case vl_ptp_mid_time_properties_data_set:
        return time_properties(state_);
      case vl_ptp_mid_port_data_set:
        return port_ds(state_);
      case vl_ptp_mid_unicast_master_table_np:
        if (state_.master_ip) return unicast_master_table(state_.master_ip);
        break;
    }
    return error(reply, vl_ptp_error_no_such_id);
  }

  Bytes apply_set(const VlPtpMgmtMessage& request, VlPtpMgmtMessage* reply) {
    if (request.data.size() != 2) return error(reply, vl_ptp_error_no_such_id);
    const uint8_t value = request.data[0];
    if (request.id == vl_ptp_mid_priority1)
      state_.priority1 = value;
    else if (request.id == vl_ptp_mid_priority2)
      state_.priority2 = value;
    else
      return error(reply, vl_ptp_error_not_supported);
    return {value, 0};
  }

  static Bytes error(VlPtpMgmtMessage* reply, uint16_t error_id) {
    reply->tlv_type = vl_ptp_tlv_error_status;
    reply->error = error_id;
    return {};
  }

  void spoil(Bytes& reply) const {
    switch (fault_.load()) {
      case Fault::none:
      case Fault::silent:
        break;
      case Fault::truncated:
        reply.resize(40);
        break;
      case Fault::oversized:
        reply.resize(4000);
        reply[2] = 4000 >> 8;
        reply[3] = 4000 & 0xFF;
        break;
      case Fault::garbage:
        reply.assign(64, 0xA5);
        break;
      case Fault::length_beyond_datagram:
        reply[3] = static_cast<uint8_t>(reply[3] + 10);
        break;
      case Fault::unknown_tlv:
        reply[49] = 0x03;
        break;
      case Fault::short_data:  // the TLV one byte short: no data set has that size
        reply[51] = static_cast<uint8_t>(reply[51] - 1);
        break;
    }
  }

  std::string path_;
  int fd_ = -1;
  int wake_ = -1;
  bool bound_ = false;
  std::mutex mutex_;
  Ptp4lState state_;
  std::atomic<Fault> fault_{Fault::none};
  std::atomic<int> answered_{0};
  std::atomic<int> ignored_{0};
  std::thread thread_;
};

// A temporary directory with a scripted ptp4l in it.
struct ScriptedPtp4lDir {
  vltest::TempDir dir;
  std::string socket = dir.path() + "/ptp4l";
};

}  // namespace ptp4ltest
