#include "vl/vl_session.h"

#include "vl/vl_device.h"
#include "vlsys/vl_log.h"
#include "vlutil/vl_json.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

vl_rtcp_session_fn vl_rtcp_session_init = nullptr;
vl_rtcp_session_action vl_rtcp_session_release = nullptr;
vl_rtcp_session_action vl_rtcp_send_report = nullptr;

namespace {

const char* key(vl_json_key_index index) { return vl_json_keys[index].name; }

const json_t* member(const json_t* json, vl_json_key_index index) { return json_object_get(json, key(index)); }

// With its first stream the session's RTCP socket joins the group and sends,
// with DSCP 0 and the stream's multicast TTL. A session without RTCP has
// nothing to set up.
bool start_rtcp(VlSession* session, const VlStream* stream) {
  vl_socket* socket = session->rtcp.socket.get();
  if (!socket) return true;
  if (vl_socket_enable_consumer(socket) != 0) return false;
  // The socket shares the group and port with the session's RTP: without
  // this, the kernel delivers every packet the daemon sends back to it, only
  // to be filtered out, which costs a sending thread a fifth of its time. A
  // failure (logged) costs that time and nothing else.
  (void)vl_socket_ignore_own_source(socket);
  if (vl_socket_enable_producer(socket, 0, static_cast<uint8_t>(vl_stream_ttl(stream))) == 0) return true;
  vl_socket_disable_consumer(socket);
  return false;
}

void stop_rtcp_reception(VlSession* session) {
  if (session->rtcp.socket) vl_socket_disable_consumer(session->rtcp.socket.get());
}

void set_receivers(VlSession* session, VlStreamReceiver* head) {
  VlLock lock(session->stream_lock);
  session->receivers = head;
}

// One saved session: its identity, interface and streams.
void load_session(VlDevice* device, const json_t* saved) {
  VlSessionId id{};
  if (!vl_session_id_decode(member(saved, VL_KEY_SESSION_ID), &id)) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Could not load a session of the configuration: it has no valid session_id!");
    return;
  }
  const char* name = json_string_value(member(saved, VL_KEY_NETWORK_INTERFACE_NAME));
  if (!name) {
    const VlNetworkInterface* node = device->interfaces.get();
    while (node && !vl_network_interface_is_streaming_ifc(node)) node = node->next.get();
    if (!node) {
      VL_LOG(vl_log_general(), VL_LOG_ERROR, "Error could not identify any network interface to bind session %s:%i to.",
             id.address, id.port);
      vl_device_keep_session(device, saved);
      return;
    }
    name = node->entry.name;
  }
  VlSession* session = vl_device_add_session(device, name, id.address, id.port);
  if (!session) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Could not load session %s:%i, ifc: %s!", id.address, id.port, name);
    vl_device_keep_session(device, saved);
    return;
  }
  const json_t* sender_json = member(saved, VL_KEY_SESSION_SENDER);
  if (json_object_size(sender_json) > 0) {
    std::unique_ptr<VlStreamSender, VlStreamDeleter> sender(
        vl_stream_sender_load(device, session->interface, session->rtcp.ssrc, sender_json));
    if (sender && vl_session_add_send(session, sender.get()) == 0) {
      sender.release();
      vl_sap_announce(device, session);
    } else if (sender) {
      VL_LOG(vl_log_general(), VL_LOG_ERROR, "Could not add output stream to session %s:%i!", id.address, id.port);
    } else {
      VL_LOG(vl_log_general(), VL_LOG_WARN, "Keeping the sender of session %s:%i for the next save: it could not be restored.",
             id.address, id.port);
      session->kept_sender = VlJsonRef::borrow(const_cast<json_t*>(sender_json));
    }
  }
  const json_t* receiver_json = member(saved, VL_KEY_SESSION_RECEIVER);
  if (json_object_size(receiver_json) > 0) {
    std::unique_ptr<VlStreamReceiver, VlStreamDeleter> receiver(
        vl_stream_receiver_load(device, session->interface, receiver_json));
    if (receiver && vl_session_add_recv(session, receiver.get()) == 0) {
      receiver.release();
    } else if (receiver) {
      VL_LOG(vl_log_general(), VL_LOG_ERROR, "Could not add input stream to session %s:%i!", id.address, id.port);
    } else {
      VL_LOG(vl_log_general(), VL_LOG_WARN,
             "Keeping the receiver of session %s:%i for the next save: it could not be restored.", id.address, id.port);
      session->kept_receiver = VlJsonRef::borrow(const_cast<json_t*>(receiver_json));
    }
  }
}

}  // namespace

VlSession::~VlSession() {
  delete sender;
  while (VlStreamReceiver* receiver = receivers) {
    receivers = vl_stream_receiver_pop(receivers, receiver);
    delete receiver;
  }
  if (wake_fd_ >= 0) close(wake_fd_);
}

void VlSession::wake() {
  const uint64_t one = 1;
  if (wake_fd_ >= 0) (void)!write(wake_fd_, &one, sizeof one);
}

bool vl_session_is_equal(const VlSessionId& a, const VlSessionId& b) {
  return a.port == b.port && std::strncmp(a.address, b.address, sizeof a.address) == 0;
}

json_t* vl_session_id_encode(const VlSessionId& id) {
  return json_pack("{s:s, s:i}", key(VL_KEY_SESSION_ADDR), id.address, key(VL_KEY_SESSION_PORT), id.port);
}

// A session that could never be addressed again (port 0, an address cut to
// fit) is refused rather than made.
bool vl_session_id_make(const char* address, json_int_t port, VlSessionId* out) {
  if (!address || std::strlen(address) >= sizeof out->address || port <= 0 || port > 65535) return false;
  *out = VlSessionId{};
  std::strcpy(out->address, address);
  out->port = static_cast<uint16_t>(port);
  return true;
}

bool vl_session_id_decode(const json_t* json, VlSessionId* out) {
  if (json_object_size(json) == 0) {
    errno = EINVAL;
    return false;
  }
  const char* address = nullptr;
  json_int_t port = 0;
  const char* name = nullptr;
  json_t* value = nullptr;
  json_object_foreach(const_cast<json_t*>(json), name, value) {
    switch (vl_json_key("VlSessionID", name, value)) {
      case VL_KEY_SESSION_ADDR: address = json_string_value(value); break;
      case VL_KEY_SESSION_PORT: port = json_integer_value(value); break;
      default: break;
    }
  }
  if (vl_session_id_make(address, port, out)) return true;
  VL_LOG(vl_log_general(), VL_LOG_ERROR, "Invalid session id object.");
  errno = EINVAL;
  return false;
}

VlSession* vl_session_ctor(VlNetworkInterface* interface, const VlSessionId& id) {
  if (!interface) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "No network interface specified for session %s:%i!", id.address, id.port);
    return nullptr;
  }
  std::unique_ptr<VlSession> session(new (std::nothrow) VlSession);
  if (!session) {
    VL_LOG(vl_log_general(), VL_LOG_FATAL, "Could not allocate memory for new session!");
    return nullptr;
  }
  session->id = id;
  session->interface = interface;
  session->wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (session->wake_fd_ < 0 || !session->stream_lock.made()) return nullptr;
  return session.release();
}

void vl_session_dtor(VlSession* session) { delete session; }

json_t* vl_session_encode(const VlSession* session) {
  if (!session) return json_object();
  return json_pack("{s:o, s:s, s:o, s:o}", key(VL_KEY_SESSION_ID), vl_session_id_encode(session->id),
                   key(VL_KEY_NETWORK_INTERFACE_NAME), session->interface->entry.name, key(VL_KEY_SESSION_SENDER),
                   vl_stream_sender_encode(session->sender), key(VL_KEY_SESSION_RECEIVER),
                   vl_stream_receiver_encode(session->receivers));
}

json_t* vl_session_list_encode(const VlSession* list) {
  json_t* array = json_array();
  for (const VlSession* session = list; session && array; session = session->next.get())
    json_array_append_new(array, vl_session_encode(session));
  return array;
}

VlSession* vl_session_next(const VlSession* session) { return session ? session->next.get() : nullptr; }
const VlSessionId* vl_session_id(const VlSession* session) { return session ? &session->id : nullptr; }
uint32_t vl_session_ssrc(const VlSession* session) { return session ? session->rtcp.ssrc : 0; }
VlStreamSender* vl_session_get_sender(const VlSession* session) { return session ? session->sender : nullptr; }
VlStreamReceiver* vl_session_get_receiver(const VlSession* session) { return session ? session->receivers : nullptr; }

// The RTCP socket sends and receives while the session has a stream of
// either kind: a sender needs the reports of its receivers as much as a
// receiver needs its sender's.
int vl_session_add_send(VlSession* session, VlStreamSender* sender) {
  if (!session || !sender) {
    errno = EINVAL;
    return -1;
  }
  if (session->sender) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "There is already a sender stream inside this session!");
    return -1;
  }
  const bool first_stream = !session->receivers;
  if (first_stream && !start_rtcp(session, sender)) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Could not add sender stream due to RTCP socket setup failure!");
    return -1;
  }
  {
    VlLock lock(session->stream_lock);
    session->sender = sender;
  }
  session->kept_sender.reset();
  if (first_stream) session->wake();
  return 0;
}

int vl_session_add_recv(VlSession* session, VlStreamReceiver* receiver) {
  if (!session || !receiver) {
    errno = EINVAL;
    return -1;
  }
  if (session->receivers) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "There is already a receiver stream inside this session!");
    return -1;
  }
  const bool first_stream = !session->sender;
  if (first_stream && !start_rtcp(session, receiver)) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Could not add receiver stream due to RTCP socket setup failure!");
    return -1;
  }
  set_receivers(session, vl_stream_receiver_push(nullptr, receiver));
  session->kept_receiver.reset();
  if (first_stream) session->wake();
  return 0;
}

VlStreamSender* vl_session_del_send(VlSession* session) {
  if (!session || !session->sender) return nullptr;
  vl_stream_sender_close(session->sender);
  if (vl_rtcp_send_report && session->rtcp.socket) vl_rtcp_send_report(session);
  VlStreamSender* sender = nullptr;
  {
    VlLock lock(session->stream_lock);
    sender = std::exchange(session->sender, nullptr);
  }
  if (!session->receivers) stop_rtcp_reception(session);
  return sender;
}

VlStreamReceiver* vl_session_del_recv(VlSession* session, VlStreamReceiver* receiver) {
  if (!session || !receiver) return nullptr;
  bool none_left = false;
  {
    VlLock lock(session->stream_lock);
    session->receivers = vl_stream_receiver_pop(session->receivers, receiver);
    none_left = !session->receivers && !session->sender;
  }
  if (none_left) stop_rtcp_reception(session);
  return receiver;
}

void vl_session_replace_sender(VlSession* session, VlStreamSender* stream) {
  if (!session) return vl_object_delete(stream);
  VlStreamSender* old = nullptr;
  {
    VlLock lock(session->stream_lock);
    old = std::exchange(session->sender, stream);
  }
  vl_object_delete(old);
}

void vl_session_replace_receiver(VlSession* session, VlStreamReceiver* stream) {
  if (!session) return vl_object_delete(stream);
  VlStreamReceiver* old = nullptr;
  {
    VlLock lock(session->stream_lock);
    old = std::exchange(session->receivers, vl_stream_receiver_push(nullptr, stream));
  }
  while (VlStreamReceiver* receiver = old) {
    old = vl_stream_receiver_pop(old, receiver);
    vl_object_delete(receiver);
  }
}

int vl_session_load(VlDevice* device, const json_t* array) {
  if (!json_is_array(array)) {
    errno = EINVAL;
    return -1;
  }
  std::size_t index = 0;
  json_t* saved = nullptr;
  json_array_foreach(array, index, saved) load_session(device, saved);
  return 0;
}
