// Sessions with their RTCP endpoints on devices in the hosts of a network
// lab, and what a peer in the other host sees of their reports and sends to
// them. Everything that opens a socket runs inside the lab's namespaces.
#pragma once

#include "rtcp/rtcp_pkt.h"

#include "vl/vl_device.h"
#include "vltest/device_lab.h"
#include "vltest/log_capture.h"
#include "vltest/netlab.h"
#include "vltest/rtp_lab.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace rtcplab {

using namespace std::chrono_literals;
using Host = vltest::NetLab::Host;

// The session every test uses: its address and port are the RTCP destination.
inline constexpr const char* session_group = "239.77.2.1";
inline constexpr uint16_t session_port = 5005;
// The RTP streams: A sends to the first group, B to the second.
inline constexpr const char* group_from_a = "239.77.2.2";
inline constexpr uint16_t port_from_a = 5004;
inline constexpr const char* group_from_b = "239.77.2.3";
inline constexpr uint16_t port_from_b = 5006;

inline std::string stream_sdp(const std::string& destination, uint16_t port) {
  return rtp_lab::stream_sdp(rtp_lab::StreamOptions{}, destination, port, "RTCP lab stream");
}

inline sockaddr_in address_of(const char* ip, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  inet_pton(AF_INET, ip, &a.sin_addr);
  return a;
}

// The kinds of a report that may come before a new sender's first packet
// is out: an RR then, since an SR would state timing it does not have yet.
inline bool new_sender_report(const std::string& kinds, const std::string& tail = "") {
  return kinds == "SR SDES" + tail || kinds == "RR SDES" + tail;
}

// A device of the lab in one host, with the ramp generator and analyzer
// reserved, and the session and stream steps the tests take on it. The lab
// destroys the device.
class LabDevice {
 public:
  LabDevice(vltest::DeviceLab& lab, Host host) : lab_(lab), host_(host), device_(lab.make_device(host)) {
    ok_ = device_ && lab.reserve(device_, "GeneratorRamp") && lab.reserve(device_, "AnalyzerRamp");
  }

  bool ok() const { return ok_; }
  VlDevice* device() { return device_; }

  VlSession* add_session() {
    VlSession* session = nullptr;
    lab_.run_in(host_, [&] {
      session = vl_device_add_session(device_, vltest::NetLab::link_device[host_], session_group, session_port);
    });
    return session;
  }
  void del_session(VlSession* session) { vl_device_del_session(device_, session); }

  // A stream of the ramp generator to `destination` (with the session's
  // SSRC), attached to the session; false when either step fails.
  bool add_sender(VlSession* session, const char* destination, uint16_t port) {
    VlStreamSender* stream = nullptr;
    const std::string sdp = stream_sdp(destination, port);
    lab_.run_in(host_, [&] {
      stream = vl_stream_sender_ctor(session->interface, sdp.c_str(), vl_device_audio_find(device_, "GeneratorRamp"),
                                     vl_session_ssrc(session), 0, 48, 34);
    });
    if (stream && vl_session_add_send(session, stream) == 0) return true;
    vl_object_delete(stream);
    return false;
  }
  // A stream from `group` into the ramp analyzer, attached to the session.
  bool add_receiver(VlSession* session, const char* group, uint16_t port) {
    VlStreamReceiver* stream = nullptr;
    const std::string sdp = stream_sdp(group, port);
    lab_.run_in(host_, [&] {
      stream = vl_stream_receiver_ctor(session->interface, sdp.c_str(), vl_device_audio_find(device_, "AnalyzerRamp"),
                                       480);
    });
    if (stream && vl_session_add_recv(session, stream) == 0) return true;
    vl_object_delete(stream);
    return false;
  }
  static void remove_sender(VlSession* session) { vl_object_delete(vl_session_del_send(session)); }
  static void remove_receiver(VlSession* session) {
    vl_object_delete(vl_session_del_recv(session, vl_session_get_receiver(session)));
  }

 private:
  vltest::DeviceLab& lab_;
  Host host_;
  VlDevice* device_;
  bool ok_ = false;
};

// One received compound report and the kernel's time of its arrival.
struct Report {
  std::chrono::nanoseconds arrival{};  // CLOCK_REALTIME
  std::vector<uint8_t> bytes;

  static uint32_t word(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
  }
  // The offsets of the packets whose headers the datagram holds.
  std::vector<std::size_t> packets() const {
    std::vector<std::size_t> offsets;
    for (std::size_t at = 0; at + vl_rtcp_header_size <= bytes.size();
         at += 4 * ((std::size_t{bytes[at + 2]} << 8) | bytes[at + 3]) + 4)
      offsets.push_back(at);
    return offsets;
  }
  // The packet types in order, such as "SR SDES BYE".
  std::string kinds() const {
    static const char* const names[] = {"SR", "RR", "SDES", "BYE"};
    std::string text;
    for (const std::size_t at : packets()) {
      const uint8_t type = bytes[at + 1];
      text += text.empty() ? "" : " ";
      text += type >= vl_rtcp_sr && type <= vl_rtcp_bye ? names[type - vl_rtcp_sr] : "?";
    }
    return text;
  }
  // The SSRC of the first packet.
  uint32_t ssrc() const { return bytes.size() >= 8 ? word(&bytes[4]) : 0; }
  // The SSRC a BYE names, 0 without one.
  uint32_t bye_ssrc() const {
    const std::size_t at = packet_at(vl_rtcp_bye);
    return at + 8 <= bytes.size() ? word(&bytes[at + 4]) : 0;
  }
  // The CNAME item of the SDES.
  std::string cname() const {
    const std::size_t at = packet_at(vl_rtcp_sdes);
    if (at + 10 > bytes.size() || bytes[at + 8] != 1) return "";
    const std::size_t length = std::min<std::size_t>(bytes[at + 9], bytes.size() - at - 10);
    return std::string(reinterpret_cast<const char*>(&bytes[at + 10]), length);
  }

 private:
  std::size_t packet_at(uint8_t type) const {
    for (const std::size_t at : packets())
      if (bytes[at + 1] == type) return at;
    return bytes.size();
  }
};

// A peer's socket joined to the session group in one host: what the
// session's RTCP endpoint sends, stamped by the kernel on arrival.
class Observer {
 public:
  Observer(const vltest::NetLab& lab, Host host) {
    lab.run_in(host, [this, host] {
      fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      const int one = 1;
      setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
      setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
      const sockaddr_in at = address_of(session_group, session_port);
      bind(fd_, reinterpret_cast<const sockaddr*>(&at), sizeof at);
      ip_mreq join{};
      inet_pton(AF_INET, session_group, &join.imr_multiaddr);
      inet_pton(AF_INET, vltest::NetLab::link_address[host], &join.imr_interface);
      setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join);
    });
  }
  ~Observer() { close(fd_); }
  Observer(const Observer&) = delete;
  Observer& operator=(const Observer&) = delete;

  // The next report whose first packet comes from `ssrc` (and that says
  // goodbye, when asked), or none within `timeout`.
  std::optional<Report> next(uint32_t ssrc, std::chrono::milliseconds timeout, bool goodbye = false) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd pfd{fd_, POLLIN, 0};
      if (left.count() < 0 || poll(&pfd, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
      std::optional<Report> report = receive();
      if (report && report->ssrc() == ssrc && (!goodbye || report->bye_ssrc() == ssrc)) return report;
    }
  }

 private:
  std::optional<Report> receive() {
    Report report;
    report.bytes.resize(vl_rtcp_compound_size);
    iovec data{report.bytes.data(), report.bytes.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(fd_, &message, 0);
    if (n <= 0) return std::nullopt;
    report.bytes.resize(static_cast<std::size_t>(n));
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
      if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS) continue;
      timespec stamp{};
      std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
      report.arrival = std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec);
    }
    return report;
  }

  int fd_ = -1;
};

// A peer in one host that sends RR + SDES about `about` to the session
// group every millisecond, as long as it lives. Its own host does not see
// them (no multicast loop).
class RtcpFlood {
 public:
  static constexpr uint32_t reporter = 0xF100D001;

  RtcpFlood(const vltest::NetLab& lab, Host host, uint32_t about) {
    lab.run_in(host, [this, host] {
      fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      in_addr via{};
      inet_pton(AF_INET, vltest::NetLab::link_address[host], &via);
      setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &via, sizeof via);
      const uint8_t no = 0;
      setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_LOOP, &no, sizeof no);
    });
    VlReceiverInfo block{};
    block.ssrc = about;
    block.lost = 0x01000002;
    block.last_seq = 1000;
    const VlReceiverInfo* blocks[] = {&block};
    VlRtcpReport report;
    report.ssrc = reporter;
    report.cname = "flood@198.18.0.2";
    report.receivers = blocks;
    datagram_.resize(vl_rtcp_compound_size);
    datagram_.resize(static_cast<std::size_t>(std::max(0, vl_rtcp_compound_write(report, datagram_))));
    thread_ = std::thread([this] { run(); });
  }
  ~RtcpFlood() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  RtcpFlood(const RtcpFlood&) = delete;
  RtcpFlood& operator=(const RtcpFlood&) = delete;

  int sent() const { return sent_; }

 private:
  void run() {
    const sockaddr_in to = address_of(session_group, session_port);
    while (!stop_) {
      if (sendto(fd_, datagram_.data(), datagram_.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) > 0)
        ++sent_;
      std::this_thread::sleep_for(1ms);  // the pace of the flood
    }
  }

  int fd_ = -1;
  std::vector<uint8_t> datagram_;
  std::atomic<bool> stop_{false};
  std::atomic<int> sent_{0};
  std::thread thread_;
};

// The remote receivers a sender stream lists (reporter SSRC, CNAME, lost
// word), copied through the stream's operation.
struct Listed {
  uint32_t reporter;
  uint32_t source;
  std::string cname;
  uint32_t lost;
};
inline std::vector<Listed> listed_receivers(VlStreamSender* sender) {
  VlReceiverInfo* copy = nullptr;
  vl_stream_receiver_info(sender, &copy);
  VlReceiverInfoPtr owned(copy);
  std::vector<Listed> listed;
  for (const VlReceiverInfo* entry = copy; entry; entry = entry->next)
    listed.push_back({entry->reporter_ssrc, entry->ssrc, entry->cname, entry->lost});
  return listed;
}

inline std::optional<Listed> listed_receiver(VlStreamSender* sender, uint32_t reporter) {
  for (const Listed& entry : listed_receivers(sender))
    if (entry.reporter == reporter) return entry;
  return std::nullopt;
}

// A device in host A with one session, and a peer in host B that watches
// the session group.
class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lab_.ok()) << lab_.net().error();
    ASSERT_TRUE(device_.ok());
    session_ = device_.add_session();
    ASSERT_NE(session_, nullptr);
  }

  uint32_t ssrc() const { return vl_session_ssrc(session_); }
  VlStreamSender* sender() const { return vl_session_get_sender(session_); }
  std::optional<Report> next_report(std::chrono::milliseconds timeout = 1s) { return observer_.next(ssrc(), timeout); }

  vltest::LogCapture log_;
  vltest::DeviceLab lab_;
  LabDevice device_{lab_, Host::A};
  Observer observer_{lab_.net(), Host::B};
  VlSession* session_ = nullptr;
};

}  // namespace rtcplab
