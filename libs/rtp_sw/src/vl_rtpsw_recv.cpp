#include "rtp_sw/vl_rtpsw_recv.h"

#include "rtp_sequence.h"
#include "rtp_stream_common.h"
#include "rtp_sw/vl_rtp_packet.h"
#include "vlcodec/vl_dec.h"
#include "vlsys/vl_condition.h"
#include "vlsys/vl_log.h"
#include "vlsys/vl_log_ratelimit.h"
#include "vlsys/vl_sched.h"
#include "vlsys/vl_socket.h"
#include "vlsys/vl_thread.h"
#include "vlsys/vl_time.h"
#include "vlsys/vl_wrap.h"
#include "vlutil/vl_growable_array.h"
#include "vlutil/vl_sdp_stream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <vector>

const VlTypeDescriptor vl_recvmgr_sw_ts = {&vl_recvmgr_ts, "VlRecvmgrSw", nullptr};

namespace {

constexpr int initial_list_capacity = 16;
constexpr int poll_timeout_ms = 1000;
// Ready sockets taken from the kernel per wake-up.
constexpr int ready_per_wait = 64;
constexpr uint64_t wake_spacing_ns = 50000;

VL_LOG_CATEGORY(category, "velanto.rtp.sw_receiver")
// Parse errors are limited for all receivers together.
VlRateLimit parse_error_limit;

// One receiving stream: the handle add_stream returns. Only the reactor
// thread reads packets and changes timing; the statistics are shared with
// get_receiver_info under their lock.
struct RecvEntry {
  vl_socket socket{};
  char name[vl_codec_stream_name_size] = {};
  std::unique_ptr<VlDec, rtp_stream::ObjectDeleter> decoder;
  VlPlayIfc* play = nullptr;
  uint32_t sync_time = 0;
  int32_t delay = 0;
  int32_t offset = 0;
  bool synchronized = true;
  std::atomic<bool> timing_established{false};
  std::atomic<bool> inactive{true};
  bool dropped = false;  // set by the reactor under the queue lock
  // The source whose statistics are kept: written by the reactor, the SSRC
  // under the statistics lock.
  bool have_source = false;
  uint8_t layout = 0;
  uint32_t sender_ssrc = 0;
  uint8_t payload_type = 0;
  vl_mutex statistics_lock{};
  RtpSequence sequence;
  vl_rational timescale = {0, 0};
  vl_utc_time bad_seqno_logged{};
  uint8_t buffer[vl_rtp_receive_buffer_size];
};

enum class CommandCode { add = 0, remove = 1, stop = 2, resync = 3 };

struct Command {
  RecvEntry* entry;
  CommandCode code;
};

// A pipe that wakes the reactor; each manager has its own.
class Interrupter {
 public:
  ~Interrupter() { close_ends(); }
  bool open() {
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return false;
    read_fd_ = fds[0];
    write_fd_ = fds[1];
    return true;
  }
  int read_fd() const { return read_fd_; }
  void wake() {
    const char byte = 0;
    (void)!write(write_fd_, &byte, 1);
  }
  void drain() {
    char bytes[1024];
    while (read(read_fd_, bytes, sizeof bytes) == static_cast<ssize_t>(sizeof bytes)) {
    }
  }

 private:
  void close_ends() {
    if (read_fd_ >= 0) close(read_fd_);
    if (write_fd_ >= 0) close(write_fd_);
    read_fd_ = write_fd_ = -1;
  }
  int read_fd_ = -1;
  int write_fd_ = -1;
};

void release(RecvEntry* e) {
  vl_mutex_dtor(&e->statistics_lock);
  vl_socket_disable_consumer(&e->socket);
  vl_socket_dtor(&e->socket);
  delete e;
}

void log_parse_error(const RecvEntry* e, int bits) {
  VL_LOG_SHARED_RATELIMITED(parse_error_limit, category(), VL_LOG_ERROR, "%s: RTP parse error %d (%s %s %s %s %s)",
                            e->name, bits, bits & vl_rtp_error_size ? "size" : "",
                            bits & vl_rtp_error_header ? "header" : "", "", bits & vl_rtp_error_seqno ? "seq#" : "",
                            bits & vl_rtp_error_payload ? "payld" : "");
}

// A new source starts the statistics again: the first packet, a new SSRC
// or another header layout. An unchanged stream keeps its statistics.
void note_source(RecvEntry* e, const VlRtpHeader& header) {
  if (e->have_source && header.layout == e->layout && header.ssrc == e->sender_ssrc) return;
  VlLock lock(e->statistics_lock);
  e->sequence.reset(header.seqno);
  e->sender_ssrc = header.ssrc;
  e->layout = header.layout;
  e->have_source = true;
}

void log_sequence(RecvEntry* e, uint16_t highest, uint16_t seqno, SequenceVerdict verdict) {
  if (verdict == SequenceVerdict::in_order) return;
  VL_LOG_RATELIMITED(&e->bad_seqno_logged, category(), VL_LOG_WARN, "%s: Bad RTP seq. no. %u -> %u (%d)", e->name,
                     highest, seqno, static_cast<int>(vl_seq_ahead(highest, seqno)) - 1);
  if (verdict == SequenceVerdict::reordered)
    VL_LOG(category(), VL_LOG_WARN, "%s: RTP packet reorder %u -> %u", e->name, highest, seqno);
  else if (verdict == SequenceVerdict::restart)
    VL_LOG(category(), VL_LOG_ERROR, "%s: RTP restart seq. checker %u -> %u", e->name, highest, seqno);
}

void establish_timing(RecvEntry* e, uint32_t rtp_ts) {
  const VlTimestampRelation relation = e->play->timestamp_relation();
  const uint32_t lo = e->synchronized ? relation.ts - vl_time_ns2ts(relation.ptp_ns, e->timescale)
                                      : relation.ts - rtp_ts;
  const auto offset = static_cast<int32_t>(lo + static_cast<uint32_t>(e->delay) - e->sync_time);
  if (offset != e->offset) {
    VL_LOG(category(), VL_LOG_INFO, "%s: Receiving %s stream timing: ptp %lluns, so %x, lt %x, lo %x, dy %x, of %x(%d)\n",
           e->name, e->synchronized ? "synchronized" : "syntonized",
           static_cast<unsigned long long>(relation.ptp_ns), e->sync_time, relation.ts, lo,
           static_cast<uint32_t>(e->delay), static_cast<uint32_t>(offset),
           vl_ts_delta(static_cast<uint32_t>(e->offset), static_cast<uint32_t>(offset)));
    e->offset = offset;
  }
  e->timing_established = true;
}

void handle_packet(RecvEntry* e, const uint8_t* b, size_t n) {
  // Arrival on the play clock alone: any constant cancels out of the jitter,
  // but an offset that a resync changes would not.
  const uint32_t arrival = e->play->current_timestamp();
  VlRtpHeader header{};
  int error = vl_rtp_parse(b, n, &header);
  if (!error && header.payload_type != e->payload_type) error = vl_rtp_error_payload;
  if (error) {
    log_parse_error(e, error);
    return;
  }
  note_source(e, header);
  uint16_t highest = 0;
  SequenceVerdict verdict = SequenceVerdict::in_order;
  bool duplicate = false;
  {
    // One lock per packet: the duplicate test and the checker belong together.
    VlLock lock(e->statistics_lock);
    highest = e->sequence.highest();
    duplicate = e->sequence.is_duplicate(header.seqno);
    if (!duplicate) verdict = e->sequence.check(header.seqno, header.timestamp, arrival);
  }
  if (duplicate) {
    VL_LOG(category(), VL_LOG_ERROR, "%s: Packet duplication on seq. no: %u", e->name, header.seqno);
    log_parse_error(e, vl_rtp_error_seqno);
    return;
  }
  log_sequence(e, highest, header.seqno, verdict);
  if (!e->timing_established) establish_timing(e, header.timestamp);
  vl_dec_process(e->decoder.get(), header.timestamp + static_cast<uint32_t>(e->offset), b + header.header_length,
                 static_cast<int32_t>(header.payload_length));
}

// A datagram larger than the receive buffer is refused rather than decoded
// cut short.
void take_datagram(RecvEntry* e, const uint8_t* b, size_t n) {
  if (n > sizeof e->buffer)
    log_parse_error(e, vl_rtp_error_size);
  else
    handle_packet(e, b, n);
}

// One datagram per readiness report: a socket with more queued is reported
// again at once, after the other ready ones had their turn, and no read is
// spent on finding a socket empty. MSG_TRUNC gives a datagram's real length.
void receive_from(RecvEntry* e) {
  const ssize_t n = vl_socket_recv(&e->socket, e->buffer, sizeof e->buffer, MSG_DONTWAIT | MSG_TRUNC);
  if (n > 0) take_datagram(e, e->buffer, static_cast<size_t>(n));
}

bool open_socket(RecvEntry* e, const vl_host_iface* interface, const VlSdpStream& sdp) {
  if (!sdp.has_name) {
    VL_LOG(category(), VL_LOG_ERROR, "Could not decode associated stream name from SDP!");
    return false;
  }
  std::memcpy(e->name, sdp.name, sizeof e->name);
  if (sdp.dst_port <= 0 || sdp.ttl < 0) return false;
  const VlDottedAddress local(interface->addr);
  char name[vl_iface_name_size + 1] = {};
  std::memcpy(name, interface->name, vl_iface_name_size);
  const auto port = static_cast<uint16_t>(sdp.dst_port);
  if (!vl_socket_ctor(&e->socket, sdp.dst_addr, port, SOCK_DGRAM)) return false;
  if (vl_socket_bind(&e->socket, name, local.text, port) != 0 || vl_socket_enable_consumer(&e->socket) != 0) {
    vl_socket_dtor(&e->socket);
    return false;
  }
  const int buffer = vl_socket_largebuf(&e->socket, true);
  if (buffer > 0) {
    VL_LOG(category(), VL_LOG_INFO, "vl_socket_largebuf set the buffer size to %d", buffer);
    return true;
  }
  VL_LOG(category(), VL_LOG_ERROR, "vl_socket_largebuf failed with errno %d", errno);
  vl_socket_disable_consumer(&e->socket);
  vl_socket_dtor(&e->socket);
  return false;
}

bool make_decoder(RecvEntry* e, const VlSdpStream& sdp) {
  vl_dec_make_fn make = vl_dec_find(sdp.encoding);
  if (!make) {
    VL_LOG(category(), VL_LOG_ERROR, "No suitable decoder found for %s", sdp.encoding);
    return false;
  }
  e->decoder.reset(make(e->play, sdp));
  if (!e->decoder) {
    VL_LOG(category(), VL_LOG_ERROR, "Cannot construct decoder for %s", sdp.encoding);
    return false;
  }
  return true;
}

class VlRecvmgrSw final : public VlRecvmgr {
 public:
  VlRecvmgrSw() : streams_(initial_list_capacity) {}
  ~VlRecvmgrSw() override;

  bool start();

  const VlTypeDescriptor& type() const override { return vl_recvmgr_sw_ts; }
  VlStreamHandle add_stream(const vl_host_iface* interface, const char* sdp, VlPlayIfc* play,
                            int32_t delay) override;
  void remove_stream(VlStreamHandle stream) override;
  bool get_receiver_info(VlStreamHandle stream, VlReceiverInfo* info) override;
  uint32_t channels(VlStreamHandle stream) override;
  int set_channel_map(VlStreamHandle stream, const VlChannelMap* map) override;
  int get_decoders(json_t* array) override;
  void resync_all() override;

 private:
  static void* reactor_main(void* self);
  void run();
  bool queue(RecvEntry* entry, CommandCode code);
  // False when told to stop.
  bool process_commands();
  // Adds or removes a stream's socket from the reactor's epoll set.
  bool watch(RecvEntry* e);
  void unwatch(RecvEntry* e);
  // True when the interrupter is among the first `ready` of ready_.
  bool commands_queued(int ready) const;

  Interrupter interrupter_;
  vl_thread thread_{};
  bool thread_started_ = false;
  vl_mutex queue_lock_{};
  vl_condition queue_done_{};  // a command was carried out
  std::vector<Command> commands_;
  bool running_ = false;  // under queue_lock_
  // The reactor's own: changed only on its thread.
  VlGrowableArray<RecvEntry*> streams_;
  // The interrupter (no entry) and every listed stream's socket.
  int epoll_fd_ = -1;
  epoll_event ready_[ready_per_wait] = {};
};

bool VlRecvmgrSw::start() {
  epoll_fd_ = epoll_create1(EPOLL_CLOEXEC);
  epoll_event wake{EPOLLIN, {.ptr = nullptr}};
  if (!vl_mutex_ctor(&queue_lock_) || !vl_condition_ctor(&queue_done_) || !interrupter_.open() || epoll_fd_ < 0 ||
      epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, interrupter_.read_fd(), &wake) != 0) {
    VL_LOG(category(), VL_LOG_ERROR, "select_reactor: cannot create barrier");
    return false;
  }
  try {
    commands_.reserve(8);
  } catch (const std::bad_alloc&) {
    return false;
  }
  VlLock lock(queue_lock_);
  if (!vl_thread_ctor(&thread_, reactor_main, "select_reactor", this)) {
    VL_LOG(category(), VL_LOG_ERROR, "select_reactor: cannot create thread");
    return false;
  }
  thread_started_ = true;
  while (!running_) pthread_cond_wait(&queue_done_.handle, &queue_lock_.handle);
  return true;
}

void* VlRecvmgrSw::reactor_main(void* self) {
  static_cast<VlRecvmgrSw*>(self)->run();
  return nullptr;
}

// While wake-ups come in quick succession, the reactor looks for packets
// at most once per wake_spacing_ns: a sender sends the packets of all its
// streams at one tick, and a reactor that woke for each of them would spend
// more on waking up than on the packets (and make the sender pay for waking
// it). What arrives meanwhile waits in the socket at most that long; a
// packet after a quiet spell is taken at once.
class WakePacer {
 public:
  void woken() {
    previous_ = last_;
    last_ = vl_system_clock();
  }
  void pace() const {
    if (last_ - previous_ >= wake_spacing_ns) return;
    const uint64_t next = last_ + wake_spacing_ns;
    const timespec until{static_cast<time_t>(next / vl_ns_per_second), static_cast<long>(next % vl_ns_per_second)};
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
  }

 private:
  uint64_t last_ = 0;
  uint64_t previous_ = 0;
};

bool VlRecvmgrSw::watch(RecvEntry* e) {
  epoll_event event{EPOLLIN, {.ptr = e}};
  return epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, vl_socket_handle(&e->socket), &event) == 0;
}

void VlRecvmgrSw::unwatch(RecvEntry* e) { epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, vl_socket_handle(&e->socket), nullptr); }

// epoll rather than select: descriptors above FD_SETSIZE must not corrupt a
// descriptor set, and a wake-up costs the ready sockets only, not all of a
// daemon's many streams.
void VlRecvmgrSw::run() {
  vl_sched_boost_thread();
  {
    VlLock lock(queue_lock_);
    running_ = true;
    pthread_cond_broadcast(&queue_done_.handle);
  }
  VL_LOG(category(), VL_LOG_DEBUG, "select reactor thread started");
  WakePacer pacer;
  for (;;) {
    pacer.pace();
    const int ready = epoll_wait(epoll_fd_, ready_, ready_per_wait, poll_timeout_ms);
    pacer.woken();
    if (commands_queued(ready)) {
      // Commands go first; the entries of this wake-up may be gone after
      // them, and the sockets still ready are reported again.
      interrupter_.drain();
      if (!process_commands()) return;
      continue;
    }
    for (int i = 0; i < ready; ++i) {
      auto* e = static_cast<RecvEntry*>(ready_[i].data.ptr);
      if (!e->inactive) receive_from(e);
    }
  }
}

bool VlRecvmgrSw::commands_queued(int ready) const {
  for (int i = 0; i < ready; ++i)
    if (!ready_[i].data.ptr) return true;
  return false;
}

bool VlRecvmgrSw::process_commands() {
  VlLock lock(queue_lock_);
  bool keep_running = true;
  for (const Command& command : commands_) {
    RecvEntry* e = command.entry;
    switch (command.code) {
      case CommandCode::add:
        if (!watch(e)) {
          e->dropped = true;
        } else if (!streams_.append(e)) {
          unwatch(e);
          e->dropped = true;
        }
        break;
      case CommandCode::remove: {
        const int index = streams_.find(e);
        if (index >= 0) {
          unwatch(e);
          streams_.remove_at(index);
        }
        e->dropped = true;
        break;
      }
      case CommandCode::stop:
        VL_LOG(category(), VL_LOG_INFO, "select reactor: stop");
        keep_running = false;
        break;
      case CommandCode::resync:
        for (int i = 0; i < streams_.count(); ++i) streams_[i]->timing_established = false;
        break;
    }
  }
  commands_.clear();
  if (!keep_running) running_ = false;
  pthread_cond_broadcast(&queue_done_.handle);
  return keep_running;
}

bool VlRecvmgrSw::queue(RecvEntry* entry, CommandCode code) {
  {
    VlLock lock(queue_lock_);
    try {
      commands_.push_back({entry, code});
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  interrupter_.wake();
  return true;
}

VlStreamHandle VlRecvmgrSw::add_stream(const vl_host_iface* interface, const char* text, VlPlayIfc* play,
                                       int32_t delay) {
  if (!interface || !text || !play) {
    VL_LOG(category(), VL_LOG_DEBUG, "add_stream() called with illegal parameters");
    errno = EFAULT;
    return nullptr;
  }
  VL_LOG(category(), VL_LOG_DEBUG, "Play Interface reported %d channels\n",
         static_cast<int>(play->properties()->channels));
  VlSdpStream sdp;
  vl_sdp_stream_read(text, &sdp);
  auto entry = std::make_unique<RecvEntry>();
  RecvEntry* e = entry.get();
  e->play = play;
  e->delay = delay;
  e->sync_time = sdp.sync_time;
  e->synchronized = sdp.has_sync_time;
  if (!e->synchronized)
    VL_LOG(category(), VL_LOG_WARN, "Invalid or missing 'sync-time' attribute in SDP, creating syntonized stream!");
  if (!make_decoder(e, sdp) || !open_socket(e, interface, sdp)) {
    VL_LOG(category(), VL_LOG_ERROR, "receiver couldn't be constructed (errno=%d)", errno);
    errno = EINVAL;
    return nullptr;
  }
  vl_mutex_ctor(&e->statistics_lock);
  e->payload_type = static_cast<uint8_t>(sdp.payload_type);
  e->timescale = vl_dec_timescale(e->decoder.get());
  e->inactive = false;
  VL_LOG(category(), VL_LOG_INFO,
         "%s: Receive RTP stream created using addr %s:%u, synced to %s, sync-time=%u, encoding=%s", e->name,
         sdp.dst_addr, static_cast<unsigned>(sdp.dst_port), sdp.clock_domain, e->sync_time, sdp.encoding);
  if (!queue(e, CommandCode::add)) {
    release(entry.release());
    errno = ENOMEM;
    return nullptr;
  }
  return entry.release();
}

void VlRecvmgrSw::remove_stream(VlStreamHandle stream) {
  auto* e = static_cast<RecvEntry*>(stream);
  if (!e || e->inactive.exchange(true)) return;
  bool dropped = false;
  if (queue(e, CommandCode::remove)) {
    VlLock lock(queue_lock_);
    while (!e->dropped && running_) pthread_cond_wait(&queue_done_.handle, &queue_lock_.handle);
    dropped = e->dropped;
  }
  // An entry the stopped reactor still lists is released with the manager.
  if (dropped) release(e);
}

bool VlRecvmgrSw::get_receiver_info(VlStreamHandle stream, VlReceiverInfo* info) {
  auto* e = static_cast<RecvEntry*>(stream);
  if (!e->timing_established) {
    errno = EAGAIN;
    return false;
  }
  VlLock lock(e->statistics_lock);
  e->sequence.report(info, e->sender_ssrc, e->timescale);
  return true;
}

uint32_t VlRecvmgrSw::channels(VlStreamHandle stream) {
  return vl_dec_channels(static_cast<RecvEntry*>(stream)->decoder.get());
}

int VlRecvmgrSw::set_channel_map(VlStreamHandle stream, const VlChannelMap* map) {
  auto* e = static_cast<RecvEntry*>(stream);
  const VlChannelMapPtr ring_map = rtp_stream::ring_map(map, *e->play->properties());
  if (ring_map) vl_dec_set_map(e->decoder.get(), ring_map.get());
  return 0;
}

int VlRecvmgrSw::get_decoders(json_t* array) {
  return vl_dec_foreach_mime(array, rtp_stream::append_mime);
}

void VlRecvmgrSw::resync_all() {
  VL_LOG(category(), VL_LOG_DEBUG, "Recv::resync_all called");
  queue(nullptr, CommandCode::resync);
}

// Entries still listed belong to streams that were not removed; once the
// reactor has stopped nothing uses them, so they are released here.
VlRecvmgrSw::~VlRecvmgrSw() {
  if (thread_started_) {
    queue(nullptr, CommandCode::stop);
    pthread_join(thread_.handle, nullptr);
  }
  VL_LOG(category(), VL_LOG_DEBUG, "select reactor: destroy");
  for (int i = streams_.count() - 1; i >= 0; --i) release(streams_[i]);
  for (const Command& command : commands_)
    if (command.code == CommandCode::add) release(command.entry);
  if (epoll_fd_ >= 0) close(epoll_fd_);
  vl_condition_dtor(&queue_done_);
  vl_mutex_dtor(&queue_lock_);
}

}  // namespace

VlRecvmgr* vl_recvmgr_sw_ctor() {
  auto* manager = new (std::nothrow) VlRecvmgrSw;
  if (!manager) return nullptr;
  if (!manager->start()) {
    delete manager;
    return nullptr;
  }
  VL_LOG(category(), VL_LOG_INFO, "VlRecvmgrSw successfully constructed");
  return manager;
}

void vl_rtpsw_recv_datagram(VlStreamHandle stream, const uint8_t* datagram, std::size_t length) {
  take_datagram(static_cast<RecvEntry*>(stream), datagram, length);
}

VlRecvmgr* vl_rtp_sw_recv_init() {
  category();  // listed from start-up on
  vl_decoders_init();
  return vl_recvmgr_sw_ctor();
}

void vl_rtp_sw_recv_done(VlRecvmgr* manager) {
  vl_object_delete(manager);
  vl_decoders_done();
}
