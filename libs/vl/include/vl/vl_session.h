// Sessions: one RTP destination (IPv4 address and UDP port) on one network
// interface, holding at most one sender and one receiver stream, and the
// session's RTCP endpoint.
//
// Threads and ownership: the control path (client commands and the
// configuration load, one at a time under the device's control lock)
// creates and deletes sessions and attaches and detaches their streams. The
// session's RTCP thread (libs/rtcp) uses the streams only under
// `stream_lock` (building a report, evaluating a datagram, the ageing
// sweep); attaching and detaching a stream changes its slot under
// `stream_lock`, and a stream is destroyed only after it has been detached.
// Lock order: the device's control lock, the device's session list lock, a
// session's stream_lock, a stream's statistics locks, manager locks; never
// the other way round. A session owns its streams, its wake-up descriptor
// and its RTCP endpoint, which the RTCP code releases before the session is
// destroyed.
#pragma once

#include "vl/vl_net.h"
#include "vl/vl_receiver_info.h"
#include "vl/vl_stream_receiver.h"
#include "vl/vl_stream_sender.h"
#include "vlsys/vl_mutex.h"
#include "vlsys/vl_socket.h"
#include "vlsys/vl_thread.h"
#include "vlutil/vl_json_ref.h"

#include <jansson.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

class VlDevice;

inline constexpr std::size_t vl_session_addr_size = 16;  // a dotted IPv4 address and its terminator

struct VlSessionId {
  char address[vl_session_addr_size];
  uint16_t port;
};

// The RTCP endpoint of a session on a streaming interface; the RTCP code
// fills and uses it.
struct VlSessionRtcp {
  uint32_t ssrc = 0;
  char cname[vl_cname_size] = {};
  std::unique_ptr<vl_socket> socket;  // closed and freed only after the thread has been joined
  vl_thread thread{};
  bool thread_running = false;
  std::atomic<bool> stop{false};  // asked of the thread at release
};

class VlSession {
 public:
  VlSession() = default;
  ~VlSession();
  VlSession(const VlSession&) = delete;
  VlSession& operator=(const VlSession&) = delete;

  // Wakes the RTCP thread: the session got a stream, or it is to stop.
  void wake();
  int wake_fd() const { return wake_fd_; }

  VlSessionId id{};
  VlNetworkInterface* interface = nullptr;  // the device's node, not owned
  VlSessionRtcp rtcp;
  VlOwnedMutex stream_lock;
  // The slots; changed under stream_lock.
  VlStreamSender* sender = nullptr;
  VlStreamReceiver* receivers = nullptr;  // a list of at most one
  // Streams of a saved configuration that could not be made (their audio
  // device missing): kept unchanged for the next save until the slot is
  // filled again.
  VlJsonRef kept_sender;
  VlJsonRef kept_receiver;
  std::unique_ptr<VlSession> next;

 private:
  friend VlSession* vl_session_ctor(VlNetworkInterface* interface, const VlSessionId& id);
  int wake_fd_ = -1;
};

struct VlSessionDeleter {
  void operator()(VlSession* session) const { delete session; }
};

// The RTCP hooks, installed by the RTCP code at start-up; empty until then
// (sessions then run without RTCP).
using vl_rtcp_session_fn = int (*)(VlSession* session);
using vl_rtcp_session_action = void (*)(VlSession* session);
extern vl_rtcp_session_fn vl_rtcp_session_init;
extern vl_rtcp_session_action vl_rtcp_session_release;
extern vl_rtcp_session_action vl_rtcp_send_report;

bool vl_session_is_equal(const VlSessionId& a, const VlSessionId& b);
// {"session_addr", "session_port"}.
json_t* vl_session_id_encode(const VlSessionId& id);
// An identity from such an object: the address at most 15 characters, the
// port 1 to 65535. False with "Invalid session id object." otherwise.
bool vl_session_id_decode(const json_t* json, VlSessionId* out);
// The same check for an address and port given apart.
bool vl_session_id_make(const char* address, json_int_t port, VlSessionId* out);

// A new session on `interface`, without streams or RTCP; null on failure.
VlSession* vl_session_ctor(VlNetworkInterface* interface, const VlSessionId& id);
// Destroys the session and whatever streams it still holds.
void vl_session_dtor(VlSession* session);

// {"session_id", "network_interface_name", "session_sender",
// "session_receiver"}; empty objects for missing streams.
json_t* vl_session_encode(const VlSession* session);
// An array of the sessions from `list` on, in list order.
json_t* vl_session_list_encode(const VlSession* list);

VlSession* vl_session_next(const VlSession* session);
const VlSessionId* vl_session_id(const VlSession* session);
uint32_t vl_session_ssrc(const VlSession* session);
VlStreamSender* vl_session_get_sender(const VlSession* session);
VlStreamReceiver* vl_session_get_receiver(const VlSession* session);

// Attach a stream; 0, or -1 (the stream stays the caller's).
int vl_session_add_send(VlSession* session, VlStreamSender* sender);
int vl_session_add_recv(VlSession* session, VlStreamReceiver* receiver);
// Detach a stream and hand it to the caller to destroy; null when there is
// none. Removing the sender first sends the session's last report with its
// BYE.
VlStreamSender* vl_session_del_send(VlSession* session);
VlStreamReceiver* vl_session_del_recv(VlSession* session, VlStreamReceiver* receiver);

// Client side (a mirror's sessions have no RTCP and their streams no
// managers): `stream` (null: none) takes the slot, and whatever the slot
// held is destroyed.
void vl_session_replace_sender(VlSession* session, VlStreamSender* stream);
void vl_session_replace_receiver(VlSession* session, VlStreamReceiver* stream);

// Re-creates the sessions and their streams of a saved "session_list";
// elements that cannot be restored are kept for the next save. -1 (errno
// EINVAL) when `array` is not an array, else 0.
int vl_session_load(VlDevice* device, const json_t* array);
