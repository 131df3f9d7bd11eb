#include "rtcp/rtcp_init.h"

#include "rtcp/rtcp_handler.h"
#include "rtcp/rtcp_pkt.h"
#include "rtcp_wire.h"
#include "vl/vl_session.h"
#include "vlsys/vl_log.h"
#include "vlsys/vl_socket.h"
#include "vlutil/vl_random.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

// "login@address", or the address alone without a login; at most 126
// characters.
void make_cname(VlSession& session) {
  const VlDottedAddress address(session.interface->entry.addr);
  const char* login = getlogin();
  if (login)
    std::snprintf(session.rtcp.cname, sizeof session.rtcp.cname, "%s@%s", login, address.text);
  else
    std::snprintf(session.rtcp.cname, sizeof session.rtcp.cname, "%s", address.text);
}

bool open_socket(VlSession& session) {
  std::unique_ptr<vl_socket> socket(new (std::nothrow) vl_socket{});
  if (!socket || !vl_socket_ctor(socket.get(), session.id.address, session.id.port, SOCK_DGRAM)) {
    VL_LOG(vl_log_general(), VL_LOG_FATAL, "Could not create RTCP socket for session %s:%i!", session.id.address,
           session.id.port);
    return false;
  }
  // RTCP shares the session's port with RTP: without the filter the thread
  // would wake for every RTP packet of the group (a sender's own too, looped
  // back), only to drop it.
  vl_socket_attach_filter(socket.get(), vl_rtcp_socket_filter());
  const VlDottedAddress address(session.interface->entry.addr);
  if (vl_socket_bind(socket.get(), session.interface->entry.name, address.text, session.id.port) != 0) {
    VL_LOG(rtcp_wire::category(), VL_LOG_ERROR, "Could not bind RTCP socket to interface %s:%i!", address.text,
           session.id.port);
    vl_socket_dtor(socket.get());
    return false;
  }
  session.rtcp.socket = std::move(socket);
  return true;
}

void close_socket(VlSession& session) {
  if (!session.rtcp.socket) return;
  vl_socket_dtor(session.rtcp.socket.get());
  session.rtcp.socket.reset();
}

// What the report states, gathered under the session's stream lock into
// `sender` and `receivers`.
VlRtcpReport gather_report(VlSession& session, VlSenderInfo* sender, std::vector<VlReceiverInfo>& receivers,
                           std::vector<const VlReceiverInfo*>& available) {
  VlRtcpReport report;
  report.ssrc = session.rtcp.ssrc;
  report.cname = session.rtcp.cname;
  report.has_sender = session.sender != nullptr;
  if (session.sender) {
    report.sender_info = vl_stream_sender_stat_copy(session.sender, sender) ? sender : nullptr;
    report.sender_closed = vl_stream_sender_is_closed(session.sender);
  }
  std::size_t count = 0;
  for (VlStreamReceiver* r = session.receivers; r; r = vl_stream_receiver_next(r)) ++count;
  receivers.reserve(count);  // `available` points into it
  for (VlStreamReceiver* r = session.receivers; r; r = vl_stream_receiver_next(r)) {
    receivers.emplace_back();
    const bool ok = vl_stream_receiver_stat_copy(r, &receivers.back());
    available.push_back(ok ? &receivers.back() : nullptr);
  }
  report.receivers = available;
  return report;
}

}  // namespace

void vl_rtcp_init(VlDevice*) {
  vl_rtcp_session_init = rtcp_session_init;
  vl_rtcp_session_release = rtcp_session_release;
  vl_rtcp_send_report = rtcp_send_report;
}

int rtcp_session_init(VlSession* session) {
  session->rtcp.ssrc = vl_random32(0);
  make_cname(*session);
  session->rtcp.stop = false;
  if (!open_socket(*session) || !vl_thread_ctor(&session->rtcp.thread, rtcp_handler, "vl_rtcp_handler", session)) {
    close_socket(*session);
    VL_LOG(rtcp_wire::category(), VL_LOG_ERROR, "Could not create session %s:%i on interface %s:%s!",
           session->id.address, session->id.port, session->interface->entry.name,
           VlDottedAddress(session->interface->entry.addr).text);
    return -1;
  }
  session->rtcp.thread_running = true;
  VL_LOG(rtcp_wire::category(), VL_LOG_DEBUG, "Created session %s:%i - SSRC:%i", session->id.address,
         session->id.port, static_cast<int>(session->rtcp.ssrc));
  return 0;
}

// The thread goes first, so that it no longer touches the streams; the
// sender's last report, with its BYE, still leaves on the open socket.
void rtcp_session_release(VlSession* session) {
  if (session->rtcp.thread_running) {
    session->rtcp.stop = true;
    session->wake();
    pthread_join(session->rtcp.thread.handle, nullptr);
    session->rtcp.thread_running = false;
  }
  delete vl_session_del_send(session);
  while (VlStreamReceiver* receiver = vl_session_get_receiver(session)) delete vl_session_del_recv(session, receiver);
  close_socket(*session);
  VL_LOG(rtcp_wire::category(), VL_LOG_DEBUG, "Released session %s:%i", session->id.address, session->id.port);
}

void rtcp_send_report(VlSession* session) {
  if (!session->rtcp.socket) return;
  uint8_t compound[vl_rtcp_compound_size];
  int size = 0;
  {
    VlLock lock(session->stream_lock);
    VlSenderInfo sender{};
    std::vector<VlReceiverInfo> receivers;
    std::vector<const VlReceiverInfo*> available;
    size = vl_rtcp_compound_write(gather_report(*session, &sender, receivers, available), compound);
  }
  if (size < 0) {
    VL_LOG(rtcp_wire::category(), VL_LOG_ERROR, "Invalid report.\n");
    return;
  }
  if (vl_socket_send(session->rtcp.socket.get(), compound, static_cast<std::size_t>(size), 0) < 0)
    VL_LOG(rtcp_wire::category(), VL_LOG_ERROR, "Could not send RTCP report.");
}
