// SAP announcers, directories and raw senders placed in the hosts of a
// network lab, for the SAP system tests.
#pragma once

#include "sap/sap_announcer.h"
#include "sap/sap_directory.h"
#include "vltest/netlab.h"
#include "vltest/wait.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace saptest {

using namespace std::chrono_literals;
using vltest::NetLab;
using Bytes = std::vector<uint8_t>;

inline VlSapInterface lab_interface(NetLab::Host host) {
  return {NetLab::link_device[host], NetLab::link_address[host]};
}

inline std::string aes67_sdp(const std::string& name, const std::string& group, int port) {
  return "v=0\r\no=- 42 1 IN IP4 198.18.0.1\r\ns=" + name + "\r\nt=0 0\r\n" +
         "a=ts-refclk:ptp=IEEE1588-2008:00-1D-C1-FF-FE-12-34-56:0\r\n" + "m=audio " + std::to_string(port) +
         " RTP/AVP 98\r\nc=IN IP4 " + group + "/32\r\na=rtpmap:98 L24/48000/8\r\na=ptime:1\r\n";
}

// A stream announced out of host A's link.
inline VlSapStreamConfig stream_in_a(const std::string& sdp) {
  return {NetLab::link_device[NetLab::A], NetLab::link_address[NetLab::A], sdp, 1, 0, true};
}

// add() opens the stream's socket, so it runs in the stream's host; errno
// is that thread's and comes back in `error`.
inline VlSapStreamId add_in(const NetLab& lab, NetLab::Host host, VlSapAnnouncer& announcer,
                            const VlSapStreamConfig& config, int* error = nullptr) {
  VlSapStreamId id = 0;
  lab.run_in(host, [&] {
    errno = 0;
    id = announcer.add(config);
    if (error) *error = errno;
  });
  return id;
}

inline std::unique_ptr<VlSapDirectory> directory_in(const NetLab& lab, NetLab::Host host,
                                                    const std::vector<VlSapInterface>& interfaces,
                                                    const VlSapDirectoryOptions& options = {}) {
  std::unique_ptr<VlSapDirectory> directory;
  lab.run_in(host, [&] { directory = VlSapDirectory::create(interfaces, options); });
  return directory;
}

inline std::optional<VlSapEntry> find_entry(const VlSapDirectory& directory, uint16_t hash) {
  for (const VlSapEntry& e : directory.list())
    if (e.msg_id_hash == hash) return e;
  return std::nullopt;
}

inline bool wait_listed(const VlSapDirectory& directory, uint16_t hash, std::chrono::milliseconds timeout = 5s) {
  return vltest::wait_until([&] { return find_entry(directory, hash).has_value(); }, timeout);
}

inline bool wait_gone(const VlSapDirectory& directory, uint16_t hash, std::chrono::milliseconds timeout = 5s) {
  return vltest::wait_until([&] { return !find_entry(directory, hash).has_value(); }, timeout);
}

// Sends any bytes to a SAP group out of host A's link.
class RawSender {
 public:
  RawSender(const NetLab& lab, const std::string& group, uint16_t port = vl_sap_port) {
    lab.run_in(NetLab::A, [&] {
      fd_ = socket(AF_INET, SOCK_DGRAM, 0);
      in_addr via{};
      inet_pton(AF_INET, NetLab::link_address[NetLab::A], &via);
      setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &via, sizeof via);
      setsockopt(fd_, SOL_SOCKET, SO_BINDTODEVICE, NetLab::link_device[NetLab::A],
                 static_cast<socklen_t>(std::strlen(NetLab::link_device[NetLab::A])));
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_port = htons(port);
      inet_pton(AF_INET, group.c_str(), &to.sin_addr);
      connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to);
    });
  }
  ~RawSender() {
    if (fd_ >= 0) close(fd_);
  }
  RawSender(const RawSender&) = delete;
  RawSender& operator=(const RawSender&) = delete;

  bool send(const Bytes& datagram) { return ::send(fd_, datagram.data(), datagram.size(), 0) >= 0; }

 private:
  int fd_ = -1;
};

inline uint32_t lab_origin(NetLab::Host host) {
  uint32_t address = 0;
  inet_pton(AF_INET, NetLab::link_address[host], &address);
  return address;
}

// A well-formed announcement of `sdp` from host A.
inline Bytes announcement(uint16_t hash, const std::string& sdp, bool deletion = false) {
  Bytes bytes(vl_sap_max_datagram);
  const int size = vl_sap_packet_write({deletion, hash, lab_origin(NetLab::A), true, sdp}, bytes);
  bytes.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
  return bytes;
}

inline constexpr const char* ffmpeg_path = "/usr/bin/ffmpeg";
// ffmpeg's SAP demuxer finds a stream announced to the AES67 group and
// decodes half a second of it.
inline constexpr const char* ffmpeg_sap_play = "-loglevel verbose -i sap://239.255.255.255 -t 0.5 -f null -";

// ffmpeg in a lab host, its diagnostics (standard error) in the output.
inline std::vector<std::string> ffmpeg_in(const NetLab& lab, NetLab::Host host, const std::string& arguments) {
  return lab.command(host, {"sh", "-c", std::string("exec ") + ffmpeg_path + " -hide_banner -nostdin -nostats " +
                                            arguments + " 2>&1"});
}

// The samples a verbose ffmpeg run says it decoded; -1 when it says none.
inline long ffmpeg_decoded_samples(const std::string& output) {
  std::smatch decoded;
  if (!std::regex_search(output, decoded, std::regex("frames decoded \\(([0-9]+) samples\\)"))) return -1;
  return std::stol(decoded[1]);
}

// One of each kind of packet a directory must ignore: malformed, oversized,
// compressed, encrypted, not SDP, without a hash, and a deletion of
// `listed_hash` from another origin.
inline std::vector<Bytes> bad_datagrams(uint16_t listed_hash) {
  const std::string sdp = aes67_sdp("hostile", "239.9.9.9", 5004);
  Bytes compressed = announcement(0x3333, sdp);
  compressed[0] |= 0x01;
  Bytes encrypted = announcement(0x3334, sdp);
  encrypted[0] |= 0x02;
  const Bytes other_type = {0x20, 0x00, 0x33, 0x35, 198, 18, 0, 1, 't', 'e', 'x', 't', 0x00, 'v', '=', '0'};
  Bytes spoofed_deletion = announcement(listed_hash, "", true);
  spoofed_deletion[7] = 99;
  return {
      {},
      {0x20},
      {0x40, 0x00, 0x33, 0x36, 198, 18, 0, 1},            // version 2
      {0x20, 0xFF, 0x33, 0x37, 198, 18, 0, 1, 1, 2, 3},   // authentication past the end
      {0x20, 0x00, 0x33, 0x38, 198, 18, 0, 1, 'a', 'b'},  // payload type never ends
      Bytes(vl_sap_max_datagram + 100, 0x20),             // oversized
      compressed,
      encrypted,
      other_type,
      announcement(0, sdp),                                // hash 0
      announcement(0x3339, "v=0\r\ns=\xFF\xFE\r\n"),       // not UTF-8
      announcement(0x333A, "hello"),                       // not SDP
      spoofed_deletion,
  };
}

}  // namespace saptest
