#include "rtp_sw/vl_rtpsw_send.h"

#include "rtp_stream_common.h"
#include "rtp_sw/vl_rtp_packet.h"
#include "vlcodec/vl_enc.h"
#include "vl/vl_sender_info.h"
#include "vlsys/vl_condition.h"
#include "vlsys/vl_log.h"
#include "vlsys/vl_log_ratelimit.h"
#include "vlsys/vl_socket.h"
#include "vlsys/vl_time.h"
#include "vlsys/vl_wrap.h"
#include "vlutil/vl_growable_array.h"
#include "vlutil/vl_sdp_stream.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

const VlTypeDescriptor vl_sendmgr_sw_ts = {&vl_sendmgr_ts, "VlSendmgrSw", nullptr};

namespace {

// 125 us at 48 kHz, the shortest packet time of AES67.
constexpr uint32_t min_frames_per_packet = 6;
constexpr int initial_list_capacity = 16;

VL_LOG_CATEGORY(category, "velanto.rtp.sw_sender")
// "timeslot missed" is limited for all streams together.
VlRateLimit missed_slot_limit;

// What get_sender_info reports. The timer callback writes it and control
// threads read it; a version count gives readers a consistent copy (an RTP
// timestamp with its own PTP time) without making the callback wait.
struct SentCounts {
  uint32_t rtp_ts = 0;   // RTP timestamp following the last packet sent
  uint64_t ptp_ns = 0;   // PTP time of that timestamp
  uint32_t packets = 0;
  uint32_t octets = 0;
};

class SentStatistics {
 public:
  // The fields are stored with release and loaded with acquire, so that a
  // reader who sees a new field also sees the odd version before it.
  void add_packet(uint32_t rtp_ts, uint64_t ptp_ns, uint32_t octets) {
    const uint32_t version = version_.load(std::memory_order_relaxed);
    version_.store(version + 1, std::memory_order_relaxed);
    rtp_ts_.store(rtp_ts, std::memory_order_release);
    ptp_ns_.store(ptp_ns, std::memory_order_release);
    packets_.store(packets_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    octets_.store(octets_.load(std::memory_order_relaxed) + octets, std::memory_order_release);
    version_.store(version + 2, std::memory_order_release);
  }

  SentCounts read() const {
    for (;;) {
      const uint32_t before = version_.load(std::memory_order_acquire);
      SentCounts counts;
      counts.rtp_ts = rtp_ts_.load(std::memory_order_acquire);
      counts.ptp_ns = ptp_ns_.load(std::memory_order_acquire);
      counts.packets = packets_.load(std::memory_order_acquire);
      counts.octets = octets_.load(std::memory_order_acquire);
      if (before % 2 == 0 && version_.load(std::memory_order_relaxed) == before) return counts;
    }
  }

 private:
  std::atomic<uint32_t> version_{0};  // odd while the callback writes
  std::atomic<uint32_t> rtp_ts_{0};
  std::atomic<uint64_t> ptp_ns_{0};
  std::atomic<uint32_t> packets_{0};
  std::atomic<uint32_t> octets_{0};
};

struct SendEntry {
  vl_socket socket{};
  char name[vl_codec_stream_name_size] = {};
  uint32_t frames_per_packet = 0;
  uint64_t payload_capacity = 0;
  vl_rational timescale = {0, 0};
  uint32_t sync_time = 0;
  uint32_t position = 0;
  uint32_t offset = 0;
  bool aligned = false;  // the first tick has placed the position
  uint16_t seqno = 0;
  std::unique_ptr<VlEnc, rtp_stream::ObjectDeleter> encoder;
  VlCaptureIfc* capture = nullptr;
  VlTimerHandle timer = nullptr;
  std::atomic<bool> resync_pending{true};
  std::atomic<bool> removing{false};
  SentStatistics sent;
  VlRateLimit send_error_limit;
  std::vector<uint8_t> packet;
};

void release_socket(SendEntry* entry) {
  vl_socket_disable_producer(&entry->socket);
  vl_socket_dtor(&entry->socket);
}

// The first tick also cuts the packets at the ticks, so that each leaves as
// soon as it is complete, whatever the offset.
void resync(SendEntry* e, uint32_t ts, uint64_t abs, uint32_t curr) {
  const uint32_t rtp_now = vl_time_ns2ts(abs, e->timescale);
  const uint32_t offset = e->sync_time + rtp_now - ts;
  const bool first = !e->aligned;
  e->aligned = true;
  if (offset == e->offset && !first) return;
  const uint32_t position = curr - vl_ts_ahead(ts, curr) % e->frames_per_packet;
  if (offset != e->offset)
    VL_LOG(category(), VL_LOG_WARN, "%s: resync ts=%x abs=%llx curr=%x; timestamp %x->%x; offset %x->%x", e->name, ts,
           static_cast<unsigned long long>(abs), curr, e->position, position, e->offset, offset);
  e->position = position;
  e->offset = offset;
}

// `ts` and `abs` are the tick's capture timestamp and its PTP time; the
// statistics pair the timestamp that follows the packet with its own time.
void send_packet(SendEntry* e, uint64_t size, uint32_t ts, uint64_t abs) {
  const ssize_t sent = vl_socket_send(&e->socket, e->packet.data(), size + vl_rtp_header_size, MSG_DONTWAIT);
  if (sent < 0) {
    char text[256];
    VL_LOG_SHARED_RATELIMITED_COUNTED(e->send_error_limit, category(), VL_LOG_ERROR, "%s: Could not send RTP packet: %s.",
                                      e->name, vl_strerror(errno, text, sizeof text));
    return;
  }
  const uint64_t ptp_ns = abs + static_cast<uint64_t>(vl_time_frames2ns(vl_ts_delta(ts, e->position), e->timescale));
  e->sent.add_packet(e->offset + e->position, ptp_ns, static_cast<uint32_t>(size));
}

// Sends every packet the capture ring holds beyond the last one sent.
void on_tick(void* user, uint32_t ts, uint64_t abs, uint32_t curr) {
  auto* e = static_cast<SendEntry*>(user);
  if (e->removing.load()) return;
  if (e->resync_pending.exchange(false)) resync(e, ts, abs, curr);
  uint8_t* header = e->packet.data();
  while (!e->removing.load() && vl_ts_ahead(e->position, curr) >= e->frames_per_packet) {
    vl_rtp_put32(header + 4, e->offset + e->position);
    vl_rtp_put16(header + 2, ++e->seqno);
    uint64_t size = e->payload_capacity;
    const uint64_t frames = vl_enc_process(e->encoder.get(), e->frames_per_packet, e->position,
                                           header + vl_rtp_header_size, &size);
    if (frames > 0) {
      e->position += static_cast<uint32_t>(frames);
      if (size > 0) send_packet(e, size, ts, abs);
      continue;
    }
    VL_LOG_SHARED_RATELIMITED_COUNTED(missed_slot_limit, category(), VL_LOG_WARN, "%s: timeslot missed @ x%x (samples: %d)",
                                      e->name, e->position, static_cast<int>(vl_ts_ahead(e->position, curr)));
    e->position = curr;
  }
}

bool frame_count_fits(uint32_t n, const VlMediaProperties* p) {
  if (n < min_frames_per_packet) {
    VL_LOG(category(), VL_LOG_ERROR, "Invalid frame count %i, must be at least: %i!", static_cast<int>(n),
           static_cast<int>(min_frames_per_packet));
    return false;
  }
  const uint32_t larger = n > p->block_frames ? n : p->block_frames;
  const uint32_t smaller = n > p->block_frames ? p->block_frames : n;
  if (larger + (smaller % larger) < p->buffer_frames - 10) return true;
  VL_LOG(category(), VL_LOG_ERROR, "Invalid frame count: %i, block_size: %i, capture_depth: %i!", static_cast<int>(n),
         static_cast<int>(p->block_frames), static_cast<int>(p->buffer_frames));
  return false;
}

// Destination from the SDP and the socket towards it.
bool open_socket(SendEntry* e, const vl_host_iface* interface, const VlSdpStream& sdp, uint8_t dscp) {
  if (!sdp.has_name) {
    VL_LOG(category(), VL_LOG_ERROR, "Could not decode associated stream name from SDP!");
    return false;
  }
  std::memcpy(e->name, sdp.name, sizeof e->name);
  if (sdp.dst_port <= 0 || sdp.ttl <= 0) return false;
  const VlDottedAddress local(interface->addr);
  if (!vl_socket_ctor(&e->socket, sdp.dst_addr, static_cast<uint16_t>(sdp.dst_port), SOCK_DGRAM)) return false;
  if (vl_socket_bind(&e->socket, nullptr, local.text, 0) != 0 ||
      vl_socket_enable_producer(&e->socket, dscp, static_cast<uint8_t>(sdp.ttl)) != 0) {
    vl_socket_dtor(&e->socket);
    return false;
  }
  // Connected, a send needs no route lookup of its own; should that fail,
  // the stream sends unconnected.
  vl_socket_connect_udp(&e->socket);
  const int buffer = vl_socket_largebuf(&e->socket, false);
  if (buffer <= 0)
    VL_LOG(category(), VL_LOG_ERROR, "vl_socket_largebuf failed with errno %d", errno);
  else
    VL_LOG(category(), VL_LOG_DEBUG, "vl_socket_largebuf set the buffer size to %d", buffer);
  return true;
}

bool make_encoder(SendEntry* e, const VlSdpStream& sdp) {
  vl_enc_make_fn make = vl_enc_find(sdp.encoding);
  if (!make) {
    VL_LOG(category(), VL_LOG_ERROR, "Cannot find suitable encoder for %s", sdp.encoding);
    return false;
  }
  e->encoder.reset(make(e->capture, sdp));
  if (!e->encoder) {
    VL_LOG(category(), VL_LOG_ERROR, "Cannot construct encoder for %s", sdp.encoding);
    return false;
  }
  return true;
}

void prepare_packet(SendEntry* e, const VlSdpStream& sdp, uint32_t ssrc, uint16_t first_seqno) {
  e->payload_capacity = vl_enc_get_buffer_size(e->encoder.get(), e->frames_per_packet);
  e->packet.assign((e->payload_capacity + 15) & ~uint64_t{3}, 0);
  e->timescale = vl_enc_timescale(e->encoder.get());
  uint8_t* header = e->packet.data();
  header[0] = vl_rtp_version_2;
  header[1] = static_cast<uint8_t>(sdp.payload_type & vl_rtp_payload_type_mask);
  e->seqno = static_cast<uint16_t>(first_seqno - 1);
  vl_rtp_put16(header + 2, e->seqno);
  vl_rtp_put32(header + 8, ssrc);
}

class VlSendmgrSw final : public VlSendmgr {
 public:
  VlSendmgrSw() : streams_(initial_list_capacity) {}
  ~VlSendmgrSw() override;

  bool init() {
    if (!vl_mutex_ctor(&lock_) || !vl_condition_ctor(&list_changed_)) {
      VL_LOG(category(), VL_LOG_ERROR, "Cannot create mutex");
      return false;
    }
    ready_ = true;
    return true;
  }

  const VlTypeDescriptor& type() const override { return vl_sendmgr_sw_ts; }
  VlStreamHandle add_stream(const vl_host_iface* interface, const char* sdp, VlCaptureIfc* capture, uint32_t ssrc,
                            uint16_t first_seqno, uint32_t frames_per_packet, uint8_t dscp) override;
  void remove_stream(VlStreamHandle stream) override;
  bool get_sender_info(VlStreamHandle stream, VlSenderInfo* info) override;
  uint32_t channels(VlStreamHandle stream) override;
  int set_channel_map(VlStreamHandle stream, const VlChannelMap* map) override;
  int get_encoders(json_t* array) override;
  void resync_all() override;

 private:
  bool start_timer(SendEntry* e);
  void teardown(SendEntry* e);
  bool list_append(SendEntry* e);
  // False when the entry was not listed.
  bool list_remove(SendEntry* e);

  bool ready_ = false;
  vl_mutex lock_{};
  vl_condition list_changed_{};
  VlGrowableArray<SendEntry*> streams_;
};

bool VlSendmgrSw::start_timer(SendEntry* e) {
  e->position = e->capture->current_timestamp();
  uint32_t interval = e->frames_per_packet;
  e->timer = e->capture->timer_set(e->position, &interval, on_tick, e);
  VL_LOG(category(), VL_LOG_DEBUG, "Stream %s: Timer interrupt interval: requested: %i, reported: %i", e->name,
         static_cast<int>(e->frames_per_packet), static_cast<int>(interval));
  if (e->timer) return true;
  const int err = errno;
  std::perror("timer");
  VL_LOG(category(), VL_LOG_ERROR, "cannot obtain timer, error code %d", err);
  return false;
}

bool VlSendmgrSw::list_append(SendEntry* e) {
  VlLock lock(lock_);
  return streams_.append(e);
}

bool VlSendmgrSw::list_remove(SendEntry* e) {
  VlLock lock(lock_);
  const int index = streams_.find(e);
  if (index >= 0) streams_.remove_at(index);
  pthread_cond_broadcast(&list_changed_.handle);
  return index >= 0;
}

VlStreamHandle VlSendmgrSw::add_stream(const vl_host_iface* interface, const char* text, VlCaptureIfc* capture,
                                       uint32_t ssrc, uint16_t first_seqno, uint32_t frames_per_packet,
                                       uint8_t dscp) {
  if (!interface || !text || !capture) {
    errno = EFAULT;
    return nullptr;
  }
  const VlMediaProperties* properties = capture->properties();
  if (!frame_count_fits(frames_per_packet, properties)) {
    errno = EINVAL;
    return nullptr;
  }
  VL_LOG(category(), VL_LOG_DEBUG, "Capture interface reported %d channels", static_cast<int>(properties->channels));
  VlSdpStream sdp;
  vl_sdp_stream_read(text, &sdp);
  auto entry = std::make_unique<SendEntry>();
  SendEntry* e = entry.get();
  e->capture = capture;
  e->frames_per_packet = frames_per_packet;
  if (!open_socket(e, interface, sdp, dscp)) {
    errno = EINVAL;
    return nullptr;
  }
  if (!make_encoder(e, sdp)) {
    release_socket(e);
    errno = EINVAL;
    return nullptr;
  }
  prepare_packet(e, sdp, ssrc, first_seqno);
  e->sync_time = sdp.sync_time;
  if (!sdp.has_sync_time) VL_LOG(category(), VL_LOG_WARN, "Stream %s: Missing sync_time attribute in SDP!", e->name);
  // Listed before its timer runs, so that no resync request can pass it by
  // between its first tick and its joining the list.
  if (!list_append(e)) {
    release_socket(e);
    errno = ENOMEM;
    return nullptr;
  }
  if (!start_timer(e)) {
    list_remove(e);
    release_socket(e);
    errno = EINVAL;
    return nullptr;
  }
  VL_LOG(category(), VL_LOG_INFO, "%s: Send RTP stream created using addr %s:%u, synced to %s, sync-time=%u, encoding=%s",
         e->name, sdp.dst_addr, static_cast<unsigned>(sdp.dst_port), sdp.clock_domain, e->sync_time, sdp.encoding);
  return entry.release();
}

// Stops and frees an entry whose removal this thread owns.
void VlSendmgrSw::teardown(SendEntry* e) {
  if (e->timer) e->capture->timer_remove(e->timer);
  e->timer = nullptr;
  if (!list_remove(e)) VL_LOG(category(), VL_LOG_ERROR, "sender deleted that wasn't in list");
  release_socket(e);
  delete e;
}

void VlSendmgrSw::remove_stream(VlStreamHandle stream) {
  auto* e = static_cast<SendEntry*>(stream);
  if (!e || e->removing.exchange(true)) return;
  teardown(e);
}

bool VlSendmgrSw::get_sender_info(VlStreamHandle stream, VlSenderInfo* info) {
  const SentCounts sent = static_cast<const SendEntry*>(stream)->sent.read();
  const uint64_t ntp = vl_tai_to_ntp(sent.ptp_ns);
  info->ntp_sec = static_cast<uint32_t>(ntp);
  info->ntp_frac = static_cast<uint32_t>(ntp >> 32);
  info->rtp_ts = sent.rtp_ts;
  info->psend = sent.packets;
  info->osend = sent.octets;
  return true;
}

uint32_t VlSendmgrSw::channels(VlStreamHandle stream) {
  return vl_enc_channels(static_cast<SendEntry*>(stream)->encoder.get());
}

int VlSendmgrSw::set_channel_map(VlStreamHandle stream, const VlChannelMap* map) {
  auto* e = static_cast<SendEntry*>(stream);
  const VlChannelMapPtr ring_map = rtp_stream::ring_map(map, *e->capture->properties());
  if (ring_map) vl_enc_set_map(e->encoder.get(), ring_map.get());
  return 0;
}

int VlSendmgrSw::get_encoders(json_t* array) {
  return vl_enc_foreach_mime(array, rtp_stream::append_mime);
}

void VlSendmgrSw::resync_all() {
  VL_LOG(category(), VL_LOG_DEBUG, "Send::resync_all called");
  VlLock lock(lock_);
  for (int i = 0; i < streams_.count(); ++i)
    if (!streams_[i]->removing.load()) streams_[i]->resync_pending = true;
}

// Removes what is left, newest first. An entry whose removal another thread
// has begun is that thread's to free: wait until it has left the list.
VlSendmgrSw::~VlSendmgrSw() {
  if (!ready_) return;
  for (;;) {
    SendEntry* last = nullptr;
    {
      VlLock lock(lock_);
      if (streams_.count() == 0) break;
      last = streams_[streams_.count() - 1];
      if (last->removing.exchange(true)) {
        while (streams_.find(last) >= 0) pthread_cond_wait(&list_changed_.handle, &lock_.handle);
        continue;
      }
    }
    teardown(last);
  }
  vl_condition_dtor(&list_changed_);
  vl_mutex_dtor(&lock_);
}

}  // namespace

VlSendmgr* vl_sendmgr_sw_ctor() {
  auto* manager = new (std::nothrow) VlSendmgrSw;
  if (!manager) return nullptr;
  if (!manager->init()) {
    delete manager;
    return nullptr;
  }
  VL_LOG(category(), VL_LOG_INFO, "VlSendmgrSw successfully constructed");
  return manager;
}

VlSendmgr* vl_rtp_sw_send_init() {
  category();  // listed from start-up on
  vl_encoders_init();
  return vl_sendmgr_sw_ctor();
}

void vl_rtp_sw_send_done(VlSendmgr* manager) {
  vl_object_delete(manager);
  vl_encoders_done();
}
