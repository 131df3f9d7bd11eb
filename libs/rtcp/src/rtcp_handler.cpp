#include "rtcp/rtcp_handler.h"

#include "rtcp/rtcp_init.h"
#include "rtcp/rtcp_pkt.h"
#include "rtcp_wire.h"
#include "vl/vl_session.h"
#include "vlsys/vl_log.h"
#include "vlsys/vl_sched.h"
#include "vlsys/vl_time.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Applies what a received datagram says to the session's streams; runs
// under the session's stream lock.
class SessionSink final : public VlRtcpSink {
 public:
  explicit SessionSink(VlSession& session) : session_(session) {}

  void sender_report(uint32_t sender_ssrc, const uint32_t report[vl_sender_report_words]) override {
    vl_stream_update_sender_info(session_.receivers, sender_ssrc, report);
  }
  void report_block(uint32_t reporter_ssrc, const uint32_t block[vl_report_block_words]) override {
    vl_stream_update_receiver_info(session_.sender, reporter_ssrc, block);
  }
  void cname(uint32_t ssrc, const char* cname) override {
    vl_stream_update_cname(session_.receivers, ssrc, cname);
    vl_stream_update_cname(session_.sender, ssrc, cname);
  }
  void bye(uint32_t ssrc) override {
    vl_stream_cleanup_info(session_.receivers, ssrc);
    vl_stream_cleanup_info(session_.sender, ssrc);
  }

 private:
  VlSession& session_;
};

bool has_streams(VlSession& session) {
  VlLock lock(session.stream_lock);
  return session.sender || session.receivers;
}

void drain(int fd) {
  uint64_t count = 0;
  while (read(fd, &count, sizeof count) > 0) {
  }
}

// Waits until the session has a stream or is asked to stop; false to stop.
// Wake-ups that came before the look at the slots are spent here, so that
// they do not cut short the reporting that follows.
bool wait_for_streams(VlSession& session) {
  pollfd wake{session.wake_fd(), POLLIN, 0};
  for (;;) {
    drain(session.wake_fd());
    if (session.rtcp.stop.load()) return false;
    if (has_streams(session)) return true;
    poll(&wake, 1, -1);  // a signal only makes it look again
  }
}

void receive(VlSession& session) {
  uint8_t buffer[vl_rtcp_receive_size];
  std::memset(buffer, 0, sizeof buffer);
  const ssize_t n = vl_socket_recv(session.rtcp.socket.get(), buffer, sizeof buffer, MSG_DONTWAIT);
  if (n < static_cast<ssize_t>(vl_rtcp_min_datagram)) return;
  VL_LOG(rtcp_wire::category(), VL_LOG_DEBUG, "RTCP Receiver %i: Received ...", static_cast<int>(session.rtcp.ssrc));
  const VlRtcpEndpoint local{session.rtcp.ssrc, session.id.address, session.id.port};
  SessionSink sink(session);
  VlLock lock(session.stream_lock);
  evaluate_rtcp_pkt(std::span<const uint8_t>(buffer, static_cast<std::size_t>(n)), local, sink);
}

void report_cycle(VlSession& session) {
  {
    VlLock lock(session.stream_lock);
    vl_stream_remove_outdated_receiver_info(session.sender);
  }
  rtcp_send_report(&session);
}

// Reports every interval while the session has streams; datagrams that
// arrive meanwhile do not postpone the next report. A wake-up means that the
// session got a first stream again after losing all of them (or is to
// stop): the cycle then starts afresh, with a report at once for a sender.
void report_while_streaming(VlSession& session) {
  pollfd fds[2] = {{vl_socket_handle(session.rtcp.socket.get()), POLLIN, 0}, {session.wake_fd(), POLLIN, 0}};
  uint64_t due = vl_system_clock() + vl_rtcp_report_interval_ns;
  while (!session.rtcp.stop.load() && has_streams(session)) {
    const uint64_t now = vl_system_clock();
    if (now >= due) {
      report_cycle(session);
      due += vl_rtcp_report_interval_ns;
      if (due <= now) due = now + vl_rtcp_report_interval_ns;  // the thread was held up for a whole interval
      continue;
    }
    const int timeout_ms = static_cast<int>((due - now + 999999) / 1000000);
    const int ready = poll(fds, 2, timeout_ms);
    if (ready < 0 && errno != EINTR) return;  // a signal only interrupts the wait
    if (ready <= 0) continue;
    if (fds[1].revents) return;
    if (fds[0].revents & POLLIN) receive(session);
  }
}

}  // namespace

void* rtcp_handler(void* argument) {
  auto& session = *static_cast<VlSession*>(argument);
  vl_sched_diminish_thread();
  while (wait_for_streams(session)) {
    bool has_sender = false;
    {
      VlLock lock(session.stream_lock);
      has_sender = session.sender != nullptr;
    }
    if (has_sender) rtcp_send_report(&session);
    report_while_streaming(session);
  }
  return nullptr;
}
