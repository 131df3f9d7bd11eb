#include "sap/sap_directory.h"

#include "sap_common.h"
#include "vlsys/vl_log.h"
#include "vlsys/vl_log_ratelimit.h"
#include "vlsys/vl_socket.h"
#include "vlsys/vl_thread.h"
#include "vlsys/vl_time.h"
#include "vlutil/vl_json_ref.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

using sap::Clock;

namespace {

constexpr int datagrams_per_turn = 64;
constexpr int timeout_periods = 10;
constexpr std::chrono::milliseconds longest_sleep{1000};

// One group on one interface.
struct Listener {
  Listener(VlSapInterface i, std::string g) : iface(std::move(i)), group(std::move(g)) {}
  ~Listener() {
    if (socket.handle <= 0) return;
    vl_socket_disable_consumer(&socket);
    vl_socket_dtor(&socket);
  }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  VlSapInterface iface;
  std::string group;
  vl_socket socket{};
  unsigned ifindex = 0;
};

// An entry with what its expiry needs.
struct Record {
  VlSapEntry entry;
  uint64_t order = 0;
  Clock::time_point seen{};
  Clock::duration period{};  // between its last two announcements; 0 before the second
};

using Key = std::pair<std::string, uint16_t>;  // SAP origin and message id hash

// Without SO_BINDTODEVICE (not root) a socket also gets the group's packets
// from other interfaces; the arrival interface tells them apart.
unsigned arrival_ifindex(msghdr* msg) {
  for (cmsghdr* c = CMSG_FIRSTHDR(msg); c; c = CMSG_NXTHDR(msg, c)) {
    if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
      in_pktinfo info;
      std::memcpy(&info, CMSG_DATA(c), sizeof info);
      return static_cast<unsigned>(info.ipi_ifindex);
    }
  }
  return 0;
}

bool is_sdp_text(const std::string& sdp) {
  if (sdp.rfind("v=0", 0) != 0 || sdp.find('\0') != std::string::npos) return false;
  return VlJsonRef(json_stringn(sdp.data(), sdp.size())).get() != nullptr;  // UTF-8, as JSON needs it
}

}  // namespace

class VlSapDirectory::Impl {
 public:
  explicit Impl(const VlSapDirectoryOptions& options) : options_(options), buffer_(vl_sap_max_datagram) {}
  ~Impl() {
    if (!started_) return;
    stop_ = true;
    wakeup_.wake();
    pthread_join(thread_.handle, nullptr);
  }

  bool listen(const std::vector<VlSapInterface>& interfaces);
  bool start() {
    started_ = wakeup_.ok() && vl_thread_ctor(&thread_, thread_main, "sap_directory", this) != nullptr;
    return started_;
  }

  std::vector<VlSapEntry> list() const;
  VlSapDirectoryStats stats() const {
    std::lock_guard<std::mutex> guard(lock_);
    return stats_;
  }

 private:
  static void* thread_main(void* self) {
    static_cast<Impl*>(self)->run();
    return nullptr;
  }
  bool open(Listener& listener) const;
  void run();
  void read_datagrams(const Listener& listener);
  void handle(std::span<const uint8_t> datagram, const Listener& listener, const char* from);
  void handle_announcement(const Key& key, const VlSapPacket& packet, const Listener& listener, const char* from);
  void upsert(const Key& key, std::string sdp, const Listener& listener, const char* from);
  Clock::duration timeout(const Record& record) const;
  Clock::time_point expire();

  const VlSapDirectoryOptions options_;
  std::vector<std::unique_ptr<Listener>> listeners_;
  std::vector<uint8_t> buffer_;  // the thread's
  sap::Wakeup wakeup_;
  vl_thread thread_{};
  bool started_ = false;
  std::atomic<bool> stop_{false};
  VlRateLimit malformed_limit_;
  VlRateLimit skipped_limit_;
  VlRateLimit full_limit_;

  mutable std::mutex lock_;  // guards the table and the counters
  std::map<Key, Record> table_;
  uint64_t next_order_ = 0;
  VlSapDirectoryStats stats_;
};

bool VlSapDirectory::Impl::listen(const std::vector<VlSapInterface>& interfaces) {
  for (const VlSapInterface& iface : interfaces) {
    for (const std::string& group : options_.groups) {
      auto listener = std::make_unique<Listener>(iface, group);
      if (!open(*listener)) {
        VL_LOG(sap::category(), VL_LOG_ERROR, "Cannot listen for SAP on %s at %s:%u", iface.name.c_str(),
               group.c_str(), options_.port);
        return false;
      }
      listeners_.push_back(std::move(listener));
    }
  }
  return true;
}

// Bound to the group (and to the device as root), joined on the interface.
bool VlSapDirectory::Impl::open(Listener& l) const {
  const int one = 1;
  l.ifindex = if_nametoindex(l.iface.name.c_str());
  return l.ifindex != 0 && vl_socket_ctor(&l.socket, l.group.c_str(), options_.port, SOCK_DGRAM) &&
         vl_socket_bind(&l.socket, l.iface.name.c_str(), l.iface.address.c_str(), options_.port) == 0 &&
         vl_socket_enable_consumer(&l.socket) == 0 &&
         setsockopt(l.socket.handle, IPPROTO_IP, IP_PKTINFO, &one, sizeof one) == 0;
}

void VlSapDirectory::Impl::run() {
  std::vector<pollfd> fds{{wakeup_.fd(), POLLIN, 0}};
  for (const auto& l : listeners_) fds.push_back({l->socket.handle, POLLIN, 0});
  Clock::time_point next = Clock::now() + longest_sleep;
  while (!stop_) {
    poll(fds.data(), fds.size(), sap::poll_timeout_ms(next, longest_sleep));
    if (fds[0].revents) wakeup_.drain();
    // A pending socket error (POLLERR) is taken by the next read too, so
    // that poll does not report it again and again.
    for (std::size_t i = 1; i < fds.size(); ++i)
      if (fds[i].revents) read_datagrams(*listeners_[i - 1]);
    next = expire();
  }
}

// MSG_TRUNC makes recvmsg report a datagram's whole length, so that an
// oversized one is recognised instead of being read cut short.
void VlSapDirectory::Impl::read_datagrams(const Listener& listener) {
  for (int i = 0; i < datagrams_per_turn; ++i) {
    sockaddr_in from{};
    iovec iov{buffer_.data(), buffer_.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr msg{&from, sizeof from, &iov, 1, control, sizeof control, 0};
    const ssize_t n = recvmsg(listener.socket.handle, &msg, MSG_TRUNC);
    if (n < 0) return;
    const unsigned ifindex = arrival_ifindex(&msg);
    if (ifindex != 0 && ifindex != listener.ifindex) continue;
    char sender[vl_printable_addr_size];
    vl_printable_addr(sender, &from);
    if (static_cast<std::size_t>(n) > buffer_.size()) {
      std::lock_guard<std::mutex> guard(lock_);
      ++stats_.datagrams;
      ++stats_.oversized;
      VL_LOG_SHARED_RATELIMITED_COUNTED(malformed_limit_, sap::category(), VL_LOG_WARN,
                                        "Ignoring SAP packet of %zd bytes from %s on %s: larger than %zu", n, sender,
                                        listener.iface.name.c_str(), vl_sap_max_datagram);
      continue;
    }
    handle(std::span<const uint8_t>(buffer_.data(), static_cast<std::size_t>(n)), listener, sender);
  }
}

void VlSapDirectory::Impl::handle(std::span<const uint8_t> datagram, const Listener& listener, const char* from) {
  VlSapPacket packet;
  const VlSapParseResult result = vl_sap_packet_parse(datagram, &packet);
  std::lock_guard<std::mutex> guard(lock_);
  ++stats_.datagrams;
  if (result != VlSapParseResult::ok) {
    ++stats_.malformed;
    VL_LOG_SHARED_RATELIMITED_COUNTED(malformed_limit_, sap::category(), VL_LOG_WARN,
                                      "Ignoring malformed SAP packet from %s on %s: %s", from,
                                      listener.iface.name.c_str(), vl_sap_parse_result_text(result));
    return;
  }
  if (packet.msg_id_hash == 0) {
    ++stats_.no_hash;
    return;
  }
  const Key key{vl_sap_origin_text(packet), packet.msg_id_hash};
  if (!packet.deletion) {
    handle_announcement(key, packet, listener, from);
  } else if (table_.erase(key)) {
    ++stats_.deletions;
    VL_LOG(sap::category(), VL_LOG_INFO, "SAP deletion of 0x%04x from %s", key.second, key.first.c_str());
  }
}

void VlSapDirectory::Impl::handle_announcement(const Key& key, const VlSapPacket& packet, const Listener& listener,
                                               const char* from) {
  if (packet.compressed || packet.encrypted) {
    ++(packet.encrypted ? stats_.encrypted : stats_.compressed);
    VL_LOG_SHARED_RATELIMITED_COUNTED(skipped_limit_, sap::category(), VL_LOG_NOTICE,
                                      "Skipping %s SAP announcement from %s on %s",
                                      packet.encrypted ? "an encrypted" : "a compressed", from,
                                      listener.iface.name.c_str());
    return;
  }
  if (!vl_sap_payload_is_sdp(packet)) {
    ++stats_.not_sdp;
    VL_LOG_SHARED_RATELIMITED_COUNTED(skipped_limit_, sap::category(), VL_LOG_NOTICE,
                                      "Skipping SAP announcement of type %.*s from %s on %s",
                                      static_cast<int>(packet.payload_type.size()), packet.payload_type.data(), from,
                                      listener.iface.name.c_str());
    return;
  }
  std::string sdp(packet.payload.begin(), packet.payload.end());
  if (!is_sdp_text(sdp)) {
    ++stats_.malformed;
    VL_LOG_SHARED_RATELIMITED_COUNTED(malformed_limit_, sap::category(), VL_LOG_WARN,
                                      "Ignoring SAP announcement from %s on %s: payload is no SDP text", from,
                                      listener.iface.name.c_str());
    return;
  }
  upsert(key, std::move(sdp), listener, from);
}

void VlSapDirectory::Impl::upsert(const Key& key, std::string sdp, const Listener& listener, const char* from) {
  auto it = table_.find(key);
  const Clock::time_point now = Clock::now();
  if (it == table_.end()) {
    if (table_.size() >= options_.max_entries) {
      ++stats_.table_full;
      VL_LOG_SHARED_RATELIMITED_COUNTED(full_limit_, sap::category(), VL_LOG_WARN,
                                        "SAP directory full (%zu entries): announcement from %s not listed",
                                        table_.size(), from);
      return;
    }
    it = table_.emplace(key, Record{}).first;
    it->second.entry.sap_origin = key.first;
    it->second.entry.msg_id_hash = key.second;
    it->second.order = next_order_++;
  } else {
    it->second.period = now - it->second.seen;
  }
  Record& r = it->second;
  r.seen = now;
  r.entry.interface = listener.iface.name;
  r.entry.announce_group = listener.group;
  r.entry.last_seen_ns = vl_realtime_ns();
  if (r.entry.sdp != sdp) {
    r.entry.fields = vl_sap_sdp_fields(sdp.c_str());
    r.entry.sdp = std::move(sdp);
    VL_LOG(sap::category(), VL_LOG_INFO, "SAP announcement \"%s\" (0x%04x) from %s on %s",
           r.entry.fields.session_name.c_str(), key.second, key.first.c_str(), listener.iface.name.c_str());
  }
  ++stats_.announcements;
}

Clock::duration VlSapDirectory::Impl::timeout(const Record& record) const {
  const Clock::duration periods = record.period * timeout_periods;
  return std::min<Clock::duration>(std::max<Clock::duration>(periods, options_.min_timeout), options_.max_timeout);
}

// Drops the entries that timed out; returns when the next one will.
Clock::time_point VlSapDirectory::Impl::expire() {
  std::lock_guard<std::mutex> guard(lock_);
  const Clock::time_point now = Clock::now();
  Clock::time_point next = now + longest_sleep;
  for (auto it = table_.begin(); it != table_.end();) {
    const Clock::time_point end = it->second.seen + timeout(it->second);
    if (end > now) {
      next = std::min(next, end);
      ++it;
      continue;
    }
    VL_LOG(sap::category(), VL_LOG_INFO, "SAP announcement 0x%04x from %s timed out", it->first.second,
           it->first.first.c_str());
    ++stats_.expired;
    it = table_.erase(it);
  }
  return next;
}

std::vector<VlSapEntry> VlSapDirectory::Impl::list() const {
  std::vector<const Record*> records;
  std::lock_guard<std::mutex> guard(lock_);
  for (const auto& [key, record] : table_) records.push_back(&record);
  std::sort(records.begin(), records.end(), [](const Record* a, const Record* b) { return a->order < b->order; });
  std::vector<VlSapEntry> entries;
  entries.reserve(records.size());
  for (const Record* r : records) entries.push_back(r->entry);
  return entries;
}

std::unique_ptr<VlSapDirectory> VlSapDirectory::create(const std::vector<VlSapInterface>& interfaces,
                                                       const VlSapDirectoryOptions& options) {
  auto impl = std::make_unique<Impl>(options);
  if (!impl->listen(interfaces) || !impl->start()) return nullptr;
  return std::unique_ptr<VlSapDirectory>(new VlSapDirectory(std::move(impl)));
}

VlSapDirectory::VlSapDirectory(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
VlSapDirectory::~VlSapDirectory() = default;

std::vector<VlSapEntry> VlSapDirectory::list() const { return impl_->list(); }
json_t* VlSapDirectory::list_encode() const { return vl_sap_entry_list_encode(list()); }
VlSapDirectoryStats VlSapDirectory::stats() const { return impl_->stats(); }
