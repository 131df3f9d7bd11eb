// Streams between the two hosts of a network lab: a send manager in host A
// with ramp generators as capture devices, a receive manager in host B with
// ramp analyzers as play devices. Everything that opens a socket runs inside
// the lab's namespaces.
#pragma once

#include "generator_analyzer/analyzer_ramp.h"
#include "generator_analyzer/generator_ramp.h"
#include "rtp_sw/vl_rtpsw_recv.h"
#include "rtp_sw/vl_rtpsw_send.h"
#include "vl/vl_posix_ptp.h"
#include "vltest/netlab.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace rtp_lab {

struct StreamOptions {
  std::string format = "L24";
  uint32_t channels = 2;
  uint32_t frames_per_packet = 48;
  bool synchronized = true;
  uint32_t sync_time = 12345;
  int32_t delay = 480;
  uint16_t first_seqno = 100;
  uint8_t dscp = 34;
  // Capture from the lab's one shared generator instead of one of its own:
  // all such streams are then sent by one timer thread, as from one sound card.
  bool shared_capture = false;
};

// One stream: its SDP, devices and the handles of both managers.
struct Stream {
  StreamOptions options;
  std::string group;
  uint16_t port = 0;
  std::string sdp;
  VlGeneratorRamp* generator = nullptr;  // owned unless shared
  VlAnalyzerRamp* analyzer = nullptr;
  VlStreamHandle sender = nullptr;
  VlStreamHandle receiver = nullptr;
};

// The SDP of a multicast stream to `group`:`port`.
std::string stream_sdp(const StreamOptions& o, const std::string& group, uint16_t port, const std::string& name);

class Lab {
 public:
  static constexpr uint32_t ssrc = 0x5EED0001;

  Lab();
  ~Lab();
  Lab(const Lab&) = delete;
  Lab& operator=(const Lab&) = delete;

  bool ok() const { return ok_; }
  vltest::NetLab& net() { return lab_; }
  VlSendmgr* sender() { return sender_; }
  VlRecvmgr* receiver() { return receiver_; }
  const vl_host_iface& iface(vltest::NetLab::Host host) const { return ifaces_[host]; }

  // Builds the devices and adds the stream to both managers (receiver
  // first). Null when a manager refuses it.
  Stream* add(const StreamOptions& options);
  // Sender side only, with its own SDP (for example towards a relay).
  bool add_sender(Stream* stream, const std::string& sdp);
  void remove_sender(Stream* stream);
  void remove_receiver(Stream* stream);
  // Destroys both managers with whatever streams they still hold.
  void destroy_managers();
  std::vector<std::unique_ptr<Stream>>& streams() { return streams_; }

 private:
  vltest::NetLab lab_;
  bool ok_ = false;
  vl_host_iface ifaces_[2] = {};
  VlSendmgr* sender_ = nullptr;
  VlRecvmgr* receiver_ = nullptr;
  std::vector<std::unique_ptr<Stream>> streams_;
  VlGeneratorRamp* shared_generator_ = nullptr;
};

// The datagrams arriving at a group and port, read in host B beside the
// receiver.
class WireTap {
 public:
  WireTap(const vltest::NetLab& lab, const std::string& group, uint16_t port);
  ~WireTap();
  WireTap(const WireTap&) = delete;
  WireTap& operator=(const WireTap&) = delete;
  // The next datagram, or empty after `timeout_ms`.
  std::vector<uint8_t> next(int timeout_ms);

 private:
  int fd_ = -1;
};

// Forwards datagrams from 127.0.0.1:`port` in host A to `group`:`port`
// on the link, dropping, duplicating and reordering some on the way.
class ImpairingRelay {
 public:
  struct Odds {
    double loss = 0.01;
    double duplicate = 0.005;
    double reorder = 0.01;  // held back behind the next packet, at most 2 ms
  };
  ImpairingRelay(const vltest::NetLab& lab, const std::string& group, uint16_t port, Odds odds, uint32_t seed);
  ~ImpairingRelay();
  ImpairingRelay(const ImpairingRelay&) = delete;
  ImpairingRelay& operator=(const ImpairingRelay&) = delete;

  int forwarded() const { return forwarded_; }
  int dropped() const { return dropped_; }
  int duplicated() const { return duplicated_; }
  int reordered() const { return reordered_; }

 private:
  void run();

  int in_fd_ = -1;
  int out_fd_ = -1;
  int stop_fd_ = -1;
  Odds odds_;
  uint32_t seed_;
  std::atomic<int> forwarded_{0};
  std::atomic<int> dropped_{0};
  std::atomic<int> duplicated_{0};
  std::atomic<int> reordered_{0};
  std::thread thread_;
};

}  // namespace rtp_lab
