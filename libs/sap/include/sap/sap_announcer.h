// Announces sender streams with SAP (RFC 2974): each stream's SDP goes to
// the SAP group (239.255.255.255:9875 by default) out of the stream's own
// interface only, with the stream's TTL and DSCP, about once an interval. A
// deletion follows when a stream is removed, switched off or given a new
// description, and for every stream when the announcer stops.
//
// Threads and ownership: one thread, "sap_announcer", sends the periodic
// announcements. add, remove, set_enabled and set_sdp run on the caller's
// thread and send the first announcement or the deletion themselves before
// they return. One lock guards the stream table and every send, so no socket
// is used by two threads at once. The announcer owns each stream's socket
// and packets; a socket lives in the network namespace of the thread that
// called add().
#pragma once

#include "sap/sap_packet.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

struct VlSapStreamConfig {
  std::string interface_name;     // packets leave only through this interface
  std::string interface_address;  // its IPv4 address: the SAP origin
  std::string sdp;
  uint8_t ttl = 1;
  uint8_t dscp = 0;
  bool enabled = true;
};

struct VlSapAnnouncerOptions {
  std::chrono::milliseconds interval{30000};
  // RFC 2974's limit on the announcements of one announcer, in bits per
  // second: with many streams the interval grows so that they stay below
  // it. 0: no limit.
  uint32_t bandwidth_limit_bps = 4000;
  std::string group = vl_sap_group_aes67;
  uint16_t port = vl_sap_port;
};

using VlSapStreamId = uint32_t;  // 0: no stream

// The interval before jitter: `base`, or longer when `streams` announcements
// of `packet_bytes` each would exceed the bandwidth limit.
std::chrono::milliseconds vl_sap_announce_interval(std::chrono::milliseconds base, uint32_t bandwidth_limit_bps,
                                                   std::size_t streams, std::size_t packet_bytes);

class VlSapAnnouncer {
 public:
  // Starts the thread; null on failure.
  static std::unique_ptr<VlSapAnnouncer> create(const VlSapAnnouncerOptions& options = {});
  // Stops (with the deletions) if stop() was not called.
  ~VlSapAnnouncer();
  VlSapAnnouncer(const VlSapAnnouncer&) = delete;
  VlSapAnnouncer& operator=(const VlSapAnnouncer&) = delete;

  // Opens the stream's socket and, when enabled, announces it at once.
  // 0 with errno on failure: EINVAL for a missing interface name, an address
  // that is not IPv4 or an empty SDP, ENOBUFS for an SDP too large for one
  // packet, ESHUTDOWN after stop(), or the socket's error.
  VlSapStreamId add(const VlSapStreamConfig& config);
  // Sends the deletion of an enabled stream and forgets it. False for an
  // unknown id.
  bool remove(VlSapStreamId id);
  // Off sends the deletion, on announces at once. False for an unknown id.
  bool set_enabled(VlSapStreamId id, bool enabled);
  // A new description: the old version is deleted and the new one, with
  // its own message id hash, announced at once. False for an unknown id or
  // an SDP that add() would refuse.
  bool set_sdp(VlSapStreamId id, const std::string& sdp);

  // The stream's message id hash, 0 for an unknown id.
  uint16_t msg_id_hash(VlSapStreamId id) const;
  std::size_t size() const;

  // Sends the deletion of every enabled stream and joins the thread.
  // Afterwards add() is refused; calling it again does nothing.
  void stop();

 private:
  class Impl;
  explicit VlSapAnnouncer(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};
