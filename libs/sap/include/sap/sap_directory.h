// Discovery: listens for SAP announcements (RFC 2974) on the given
// interfaces, on both SAP groups, and keeps the table of announced streams.
// An entry goes when its deletion arrives, or when it has not been announced
// for ten of its announcement periods (as measured between its last two
// announcements), bounded below by `min_timeout` and above by `max_timeout`. Packets that are malformed, larger than vl_sap_max_datagram
// or not SDP are ignored; compressed and encrypted ones are skipped. Each of
// these is counted and logged at most once a second.
//
// Threads and ownership: one thread, "sap_directory", owns the sockets: it
// reads the datagrams, updates the table and expires entries. The table is
// guarded by one lock; list() and stats() copy under it and may be called
// from any thread. The sockets are made by create(), in the network
// namespace of the calling thread.
#pragma once

#include "sap/sap_entry.h"
#include "sap/sap_packet.h"

#include <jansson.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct VlSapInterface {
  std::string name;
  std::string address;  // its IPv4 address: the group membership's interface
};

struct VlSapDirectoryOptions {
  std::vector<std::string> groups = {vl_sap_group_aes67, vl_sap_group_global};
  uint16_t port = vl_sap_port;
  // RFC 2974 keeps an entry ten announcement periods but at least an hour;
  // on a LAN, ten of AES67's 30 s periods are enough.
  std::chrono::milliseconds min_timeout{300000};
  std::chrono::milliseconds max_timeout{3600000};
  std::size_t max_entries = 1024;  // further announcements are not listed
};

struct VlSapDirectoryStats {
  uint64_t datagrams = 0;
  uint64_t announcements = 0;
  uint64_t deletions = 0;
  uint64_t malformed = 0;  // includes an SDP that is not text or not UTF-8
  uint64_t oversized = 0;
  uint64_t compressed = 0;
  uint64_t encrypted = 0;
  uint64_t not_sdp = 0;
  uint64_t no_hash = 0;  // message id hash 0, which RFC 2974 lets listeners drop
  uint64_t table_full = 0;
  uint64_t expired = 0;
};

class VlSapDirectory {
 public:
  // Joins both groups on every interface and starts the thread; null when
  // an interface or group cannot be listened on.
  static std::unique_ptr<VlSapDirectory> create(const std::vector<VlSapInterface>& interfaces,
                                                const VlSapDirectoryOptions& options = {});
  ~VlSapDirectory();
  VlSapDirectory(const VlSapDirectory&) = delete;
  VlSapDirectory& operator=(const VlSapDirectory&) = delete;

  // The announced streams, oldest first.
  std::vector<VlSapEntry> list() const;
  // The same as a new JSON array (keys in sap/sap_entry.h); null on failure.
  json_t* list_encode() const;
  VlSapDirectoryStats stats() const;

 private:
  class Impl;
  explicit VlSapDirectory(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};
