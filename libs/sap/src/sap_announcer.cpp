#include "sap/sap_announcer.h"

#include "sap_common.h"
#include "vlsys/vl_log.h"
#include "vlsys/vl_log_ratelimit.h"
#include "vlsys/vl_socket.h"
#include "vlsys/vl_thread.h"

#include <arpa/inet.h>
#include <poll.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <random>
#include <vector>

using sap::Clock;

namespace {

// A stream's state. Its socket is closed with it.
struct Stream {
  explicit Stream(VlSapStreamConfig c) : config(std::move(c)) {}
  ~Stream() {
    if (socket.handle > 0) vl_socket_dtor(&socket);
  }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  VlSapStreamConfig config;
  vl_socket socket{};
  uint32_t origin = 0;  // network byte order
  uint16_t hash = 0;
  std::vector<uint8_t> announcement;
  std::vector<uint8_t> deletion;
  Clock::time_point due{};
};

bool valid_config(const VlSapStreamConfig& c, uint32_t* origin) {
  return !c.interface_name.empty() && c.interface_name.size() < 16 && !c.sdp.empty() &&
         inet_pton(AF_INET, c.interface_address.c_str(), origin) == 1;
}

std::vector<uint8_t> packet(const VlSapMessage& message) {
  std::vector<uint8_t> bytes(vl_sap_max_datagram);
  const int size = vl_sap_packet_write(message, bytes);
  bytes.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
  return bytes;
}

}  // namespace

std::chrono::milliseconds vl_sap_announce_interval(std::chrono::milliseconds base, uint32_t bandwidth_limit_bps,
                                                   std::size_t streams, std::size_t packet_bytes) {
  if (bandwidth_limit_bps == 0) return base;
  const uint64_t bits = uint64_t{8} * streams * packet_bytes;
  return std::max(base, std::chrono::milliseconds(bits * 1000 / bandwidth_limit_bps));
}

class VlSapAnnouncer::Impl {
 public:
  explicit Impl(const VlSapAnnouncerOptions& options) : options_(options), random_(std::random_device{}()) {}

  bool start() {
    if (!wakeup_.ok()) return false;
    started_ = vl_thread_ctor(&thread_, thread_main, "sap_announcer", this) != nullptr;
    return started_;
  }

  VlSapStreamId add(const VlSapStreamConfig& config);
  bool remove(VlSapStreamId id);
  bool set_enabled(VlSapStreamId id, bool enabled);
  bool set_sdp(VlSapStreamId id, const std::string& sdp);
  uint16_t msg_id_hash(VlSapStreamId id) const;
  std::size_t size() const;
  void stop();

 private:
  static void* thread_main(void* self) {
    static_cast<Impl*>(self)->run();
    return nullptr;
  }
  void run();
  Clock::time_point announce_due();
  bool open_socket(Stream& stream) const;
  bool build_packets(Stream& stream, const std::string& sdp) const;
  uint16_t unique_hash(const Stream& stream, const std::string& sdp) const;
  void announce(Stream& stream);
  void send(Stream& stream, const std::vector<uint8_t>& bytes);
  Stream* find(VlSapStreamId id) const;
  std::size_t enabled_count() const;

  const VlSapAnnouncerOptions options_;
  sap::Wakeup wakeup_;
  vl_thread thread_{};
  bool started_ = false;
  VlRateLimit send_failure_limit_;

  mutable std::mutex lock_;  // guards everything below and every send
  std::map<VlSapStreamId, std::unique_ptr<Stream>> streams_;
  VlSapStreamId next_id_ = 1;
  bool stopping_ = false;
  std::minstd_rand random_;
};

VlSapStreamId VlSapAnnouncer::Impl::add(const VlSapStreamConfig& config) {
  auto stream = std::make_unique<Stream>(config);
  if (!valid_config(config, &stream->origin)) {
    errno = EINVAL;
    return 0;
  }
  if (!open_socket(*stream)) return 0;
  std::lock_guard<std::mutex> guard(lock_);
  if (stopping_) {
    errno = ESHUTDOWN;
    return 0;
  }
  if (!build_packets(*stream, config.sdp)) return 0;
  const VlSapStreamId id = next_id_++;
  Stream& s = *stream;
  streams_.emplace(id, std::move(stream));
  VL_LOG(sap::category(), VL_LOG_INFO, "Announcing stream %u on %s with message id hash 0x%04x", id,
         config.interface_name.c_str(), s.hash);
  if (s.config.enabled) announce(s);
  return id;
}

bool VlSapAnnouncer::Impl::remove(VlSapStreamId id) {
  std::lock_guard<std::mutex> guard(lock_);
  Stream* s = find(id);
  if (!s) return false;
  if (s->config.enabled && !stopping_) send(*s, s->deletion);
  streams_.erase(id);
  return true;
}

bool VlSapAnnouncer::Impl::set_enabled(VlSapStreamId id, bool enabled) {
  std::lock_guard<std::mutex> guard(lock_);
  Stream* s = find(id);
  if (!s) return false;
  if (s->config.enabled == enabled || stopping_) {
    s->config.enabled = enabled;
    return true;
  }
  s->config.enabled = enabled;
  if (enabled)
    announce(*s);
  else
    send(*s, s->deletion);
  return true;
}

bool VlSapAnnouncer::Impl::set_sdp(VlSapStreamId id, const std::string& sdp) {
  std::lock_guard<std::mutex> guard(lock_);
  Stream* s = find(id);
  if (!s || sdp.empty()) {
    errno = EINVAL;
    return false;
  }
  const std::vector<uint8_t> old_deletion = s->deletion;
  if (!build_packets(*s, sdp)) return false;
  s->config.sdp = sdp;
  if (s->config.enabled && !stopping_) {
    send(*s, old_deletion);
    announce(*s);
  }
  return true;
}

uint16_t VlSapAnnouncer::Impl::msg_id_hash(VlSapStreamId id) const {
  std::lock_guard<std::mutex> guard(lock_);
  const Stream* s = find(id);
  return s ? s->hash : 0;
}

std::size_t VlSapAnnouncer::Impl::size() const {
  std::lock_guard<std::mutex> guard(lock_);
  return streams_.size();
}

void VlSapAnnouncer::Impl::stop() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (stopping_) return;
    stopping_ = true;
    for (auto& [id, s] : streams_)
      if (s->config.enabled) send(*s, s->deletion);
  }
  wakeup_.wake();
  if (started_) pthread_join(thread_.handle, nullptr);
}

void VlSapAnnouncer::Impl::run() {
  pollfd wake{wakeup_.fd(), POLLIN, 0};
  Clock::time_point next = Clock::now();
  for (;;) {
    poll(&wake, 1, sap::poll_timeout_ms(next, std::chrono::milliseconds(1000)));
    wakeup_.drain();
    std::lock_guard<std::mutex> guard(lock_);
    if (stopping_) return;
    next = announce_due();
  }
}

// Announces every stream that is due; returns when the next one is.
Clock::time_point VlSapAnnouncer::Impl::announce_due() {
  const Clock::time_point now = Clock::now();
  Clock::time_point next = Clock::time_point::max();
  for (auto& [id, s] : streams_) {
    if (!s->config.enabled) continue;
    if (s->due <= now) announce(*s);
    next = std::min(next, s->due);
  }
  return next;
}

// vl_socket_bind sets SO_BINDTODEVICE (as root) and the producer the
// multicast interface, so the packets never take another route.
bool VlSapAnnouncer::Impl::open_socket(Stream& s) const {
  const VlSapStreamConfig& c = s.config;
  return vl_socket_ctor(&s.socket, options_.group.c_str(), options_.port, SOCK_DGRAM) &&
         vl_socket_bind(&s.socket, c.interface_name.c_str(), c.interface_address.c_str(), 0) == 0 &&
         vl_socket_enable_producer(&s.socket, c.dscp, c.ttl) == 0;
}

bool VlSapAnnouncer::Impl::build_packets(Stream& s, const std::string& sdp) const {
  const uint16_t hash = unique_hash(s, sdp);
  VlSapMessage message{false, hash, s.origin, true, sdp};
  std::vector<uint8_t> announcement = packet(message);
  message.deletion = true;
  std::vector<uint8_t> deletion = packet(message);
  if (announcement.empty() || deletion.empty()) return false;
  s.hash = hash;
  s.announcement = std::move(announcement);
  s.deletion = std::move(deletion);
  return true;
}

// RFC 2974 asks for a hash unique among one announcer's sessions: a
// collision moves on to the next free value.
uint16_t VlSapAnnouncer::Impl::unique_hash(const Stream& stream, const std::string& sdp) const {
  uint16_t hash = vl_sap_message_hash(stream.origin, sdp);
  for (bool taken = true; taken;) {
    taken = false;
    for (const auto& [id, other] : streams_) {
      if (other.get() != &stream && other->origin == stream.origin && other->hash == hash) {
        taken = true;
        hash = hash == UINT16_MAX ? 1 : static_cast<uint16_t>(hash + 1);
      }
    }
  }
  return hash;
}

// Sends the announcement and plans the next one at 2/3 to 4/3 of the
// interval, so that announcers do not fall into step; the thread is woken
// to plan its sleep anew.
void VlSapAnnouncer::Impl::announce(Stream& s) {
  send(s, s.announcement);
  const auto interval =
      vl_sap_announce_interval(options_.interval, options_.bandwidth_limit_bps, enabled_count(), s.announcement.size());
  std::uniform_real_distribution<double> jitter(2.0 / 3.0, 4.0 / 3.0);
  s.due = Clock::now() + std::chrono::duration_cast<Clock::duration>(interval * jitter(random_));
  wakeup_.wake();
}

void VlSapAnnouncer::Impl::send(Stream& s, const std::vector<uint8_t>& bytes) {
  if (vl_socket_send(&s.socket, bytes.data(), bytes.size(), MSG_DONTWAIT) >= 0) return;
  char text[256];
  vl_strerror(errno, text, sizeof text);
  VL_LOG_SHARED_RATELIMITED_COUNTED(send_failure_limit_, sap::category(), VL_LOG_WARN,
                                    "SAP packet on %s failed: %s", s.config.interface_name.c_str(), text);
}

Stream* VlSapAnnouncer::Impl::find(VlSapStreamId id) const {
  const auto it = streams_.find(id);
  return it == streams_.end() ? nullptr : it->second.get();
}

std::size_t VlSapAnnouncer::Impl::enabled_count() const {
  std::size_t n = 0;
  for (const auto& [id, s] : streams_) n += s->config.enabled;
  return n;
}

std::unique_ptr<VlSapAnnouncer> VlSapAnnouncer::create(const VlSapAnnouncerOptions& options) {
  auto impl = std::make_unique<Impl>(options);
  if (!impl->start()) return nullptr;
  return std::unique_ptr<VlSapAnnouncer>(new VlSapAnnouncer(std::move(impl)));
}

VlSapAnnouncer::VlSapAnnouncer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
VlSapAnnouncer::~VlSapAnnouncer() { impl_->stop(); }

VlSapStreamId VlSapAnnouncer::add(const VlSapStreamConfig& config) { return impl_->add(config); }
bool VlSapAnnouncer::remove(VlSapStreamId id) { return impl_->remove(id); }
bool VlSapAnnouncer::set_enabled(VlSapStreamId id, bool enabled) { return impl_->set_enabled(id, enabled); }
bool VlSapAnnouncer::set_sdp(VlSapStreamId id, const std::string& sdp) { return impl_->set_sdp(id, sdp); }
uint16_t VlSapAnnouncer::msg_id_hash(VlSapStreamId id) const { return impl_->msg_id_hash(id); }
std::size_t VlSapAnnouncer::size() const { return impl_->size(); }
void VlSapAnnouncer::stop() { impl_->stop(); }
