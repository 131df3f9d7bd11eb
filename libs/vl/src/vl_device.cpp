#include "vl/vl_device.h"

#include "vlsys/vl_log.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr std::size_t error_text_size = 256;

// The vendor file's fields when it can be read (empty ones stay empty),
// otherwise the defaults.
VlDeviceId* make_identity() {
  VlVendorInfo vendor{};
  if (vl_get_vendor_info(&vendor) == 0) return vl_device_id_ctor(vendor.vendor, vendor.product, vendor.serial, nullptr);
  return vl_device_id_ctor(nullptr, nullptr, nullptr, nullptr);
}

void append_devices(void* array, const VlTypeDescriptor* descriptor, int) {
  if (vl_mediadrv_devicelist_fn devicelist = vl_mediadrv_audio_devicelist(descriptor))
    devicelist(static_cast<json_t*>(array));
}

// A record for one entry of a driver's device list, or null.
VlAudioDevice* make_audio_device(const json_t* entry) {
  const char* name = json_string_value(json_object_get(entry, "devicename"));
  const json_t* properties = json_object_get(entry, "properties");
  VlAudioDevice* record = vl_audio_device_ctor(name, json_is_object(properties) ? properties : nullptr);
  if (!record) {
    char err[error_text_size];
    VL_LOG(vl_log_general(), VL_LOG_FATAL, "Error %s: vl_device_audio_init() for VlAudioDevice \"%s\" failed.",
           vl_strerror(errno, err, sizeof err), name ? name : "");
    return nullptr;
  }
  VL_LOG(vl_log_general(), VL_LOG_INFO, "vl_device_audio_init() for VlAudioDevice \"%s\" succeeded.", name);
  const char* type_name = json_string_value(json_object_get(entry, "typename"));
  std::snprintf(record->driver_type, sizeof record->driver_type, "%s", type_name ? type_name : "");
  return record;
}

}  // namespace

VlDevice* vl_device_ctor(const json_t*) {
  std::unique_ptr<VlDevice> device(new (std::nothrow) VlDevice);
  if (!device) {
    char err[error_text_size];
    VL_LOG(vl_log_general(), VL_LOG_FATAL, "Could not allocate vl_device: %s!", vl_strerror(ENOMEM, err, sizeof err));
    return nullptr;
  }
  device->version.reset(vl_version_ctor(-1, -1, nullptr));
  device->id.reset(make_identity());
  device->additional.reset(json_object());
  device->kept_audio_devices.reset(json_array());
  device->kept_sessions.reset(json_array());
  if (!device->version || !device->id || !device->ptp_lock.made() || !device->audio_lock.made() ||
      !device->session_lock.made() || !device->control_lock.made() || !device->additional ||
      !device->kept_audio_devices || !device->kept_sessions)
    return nullptr;
  return device.release();
}

void vl_device_dtor(VlDevice* device) {
  if (!device) return;
  // The sessions use the audio devices and the interfaces' managers.
  vl_device_del_sessions(device);
  vl_device_audio_done(device);
  delete device;
  VL_LOG(vl_log_general(), VL_LOG_INFO, "device deleted");
}

void vl_device_resync_streams(VlDevice* device) {
  if (!device) return;
  for (VlNetworkInterface* node = device->interfaces.get(); node; node = node->next.get()) {
    if (node->send_manager) vl_sendmgr_resync_all(node->send_manager);
    if (node->recv_manager) vl_recvmgr_resync_all(node->recv_manager);
  }
}

int vl_device_audio_init(VlDevice* device) {
  if (!device) {
    errno = EFAULT;
    return -1;
  }
  const VlJsonRef list(json_array());
  if (!list) return -1;
  vl_object_iterate(append_devices, list.get());
  if (json_array_size(list.get()) == 0) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Could not find any audio device!");
    return -1;
  }
  std::size_t index = 0;
  json_t* entry = nullptr;
  json_array_foreach(list.get(), index, entry) {
    std::unique_ptr<VlAudioDevice> record(make_audio_device(entry));
    if (!record) return -1;
    VlLock lock(device->audio_lock);
    record->next = std::move(device->audio_devices);
    device->audio_devices = std::move(record);
  }
  return 0;
}

void vl_device_audio_done(VlDevice* device) {
  if (!device) return;
  VL_LOG(vl_log_general(), VL_LOG_INFO, "releasing audio devices");
  for (;;) {
    std::unique_ptr<VlAudioDevice> record;
    {
      VlLock lock(device->audio_lock);
      if (!device->audio_devices) return;
      record = std::move(device->audio_devices);
      device->audio_devices = std::move(record->next);
    }
    vl_audio_device_unlock(record.get());
  }
}

VlAudioDevice* vl_device_audio_find(VlDevice* device, const char* name) {
  if (!device || !name) return nullptr;
  for (VlAudioDevice* record = device->audio_devices.get(); record; record = record->next.get())
    if (std::strncmp(record->name, name, vl_audio_name_size - 1) == 0) return record;
  return nullptr;
}

namespace {

bool names_audio_device(const VlStream* stream, const char* name) {
  return stream && std::strncmp(vl_stream_audio_device_name(stream), name, vl_audio_name_size - 1) == 0;
}

bool session_uses_audio_device(VlSession* session, const char* name) {
  VlLock lock(session->stream_lock);
  if (names_audio_device(session->sender, name)) return true;
  for (const VlStreamReceiver* receiver = session->receivers; receiver; receiver = vl_stream_receiver_next(receiver))
    if (names_audio_device(receiver, name)) return true;
  return false;
}

}  // namespace

bool vl_device_audio_in_use(VlDevice* device, const char* name) {
  if (!device || !name) return false;
  VlLock lock(device->session_lock);
  for (VlSession* session = device->sessions.get(); session; session = session->next.get())
    if (session_uses_audio_device(session, name)) return true;
  return false;
}

namespace {

bool has_managers(const VlNetworkInterface* node) { return node && (node->send_manager || node->recv_manager); }

// The session of `id` in the list, or null; under session_lock.
VlSession* find_listed(VlDevice* device, const VlSessionId& id) {
  for (VlSession* session = device->sessions.get(); session; session = session->next.get())
    if (vl_session_is_equal(session->id, id)) return session;
  return nullptr;
}

// A new session of `id` on `node`, with its RTCP endpoint where the node
// streams; null on failure.
VlSession* make_session(VlNetworkInterface* node, const VlSessionId& id) {
  std::unique_ptr<VlSession> session(vl_session_ctor(node, id));
  if (!session) return nullptr;
  if (has_managers(node) && vl_rtcp_session_init) {
    if (vl_rtcp_session_init(session.get()) < 0) {
      VL_LOG(vl_log_general(), VL_LOG_ERROR, "Could not initialize RTCP for session %s:%i!", id.address, id.port);
      return nullptr;
    }
    VL_LOG(vl_log_general(), VL_LOG_INFO, "Created session %s:%i bound to interface %s.", id.address, id.port,
           node->entry.name);
  }
  return session.release();
}

}  // namespace

VlSession* vl_device_find_session(VlDevice* device, const VlSessionId& id) {
  if (!device) return nullptr;
  VlLock lock(device->session_lock);
  VlSession* session = find_listed(device, id);
  if (!session) VL_LOG(vl_log_general(), VL_LOG_DEBUG, "Could not find session %s:%i.", id.address, id.port);
  return session;
}

// The search and the insertion happen under one hold of session_lock, so two
// requests for one identity end with one session.
VlSession* vl_device_add_session(VlDevice* device, const char* interface_name, const char* address, json_int_t port) {
  const char* shown = address ? address : "";
  if (!device || !interface_name) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Invalid network interface name given for session %s:%i!", shown,
           static_cast<int>(port));
    return nullptr;
  }
  VlNetworkInterface* node = vl_network_interface_find(device->interfaces.get(), interface_name);
  if (!node) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Can't find network interface %s, to bind session %s:%i to!", interface_name,
           shown, static_cast<int>(port));
    return nullptr;
  }
  VlSessionId id{};
  if (!vl_session_id_make(address, port, &id)) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Invalid session id object.");
    return nullptr;
  }
  VlLock lock(device->session_lock);
  if (VlSession* existing = find_listed(device, id)) {
    if (existing->interface != node) {
      VL_LOG(vl_log_general(), VL_LOG_ERROR, "Found session %s:%i using %s instead of requested %s interface, aborting here!",
             id.address, id.port, existing->interface->entry.name, interface_name);
      return nullptr;
    }
    VL_LOG(vl_log_general(), VL_LOG_INFO, "Reusing existing session %s:%i", id.address, id.port);
    return existing;
  }
  VL_LOG(vl_log_general(), VL_LOG_DEBUG, "Could not find session %s:%i.", id.address, id.port);
  VlSession* session = make_session(node, id);
  if (!session) return nullptr;
  session->next = std::move(device->sessions);
  device->sessions.reset(session);
  return session;
}

void vl_device_del_session(VlDevice* device, VlSession* session) {
  if (!device || !session) return;
  std::unique_ptr<VlSession> unlinked;
  {
    VlLock lock(device->session_lock);
    for (std::unique_ptr<VlSession>* link = &device->sessions; *link; link = &(*link)->next) {
      if (link->get() != session) continue;
      unlinked = std::move(*link);
      *link = std::move(unlinked->next);
      break;
    }
  }
  if (!unlinked) return;
  if (has_managers(unlinked->interface) && vl_rtcp_session_release) vl_rtcp_session_release(unlinked.get());
}

void vl_device_del_sessions(VlDevice* device) {
  for (;;) {
    VlSession* first = nullptr;
    {
      VlLock lock(device->session_lock);
      first = device->sessions.get();
    }
    if (!first) return;
    vl_device_del_session(device, first);
  }
}

void vl_device_keep_session(VlDevice* device, const json_t* saved) {
  VL_LOG(vl_log_general(), VL_LOG_WARN, "Keeping a saved session for the next save: it could not be restored.");
  json_array_append(device->kept_sessions.get(), const_cast<json_t*>(saved));
}

json_t* vl_device_encode(VlDevice* device) {
  if (!device) return json_object();
  VlJsonRef ptp_status;
  {
    VlLock lock(device->ptp_lock);
    ptp_status.reset(vl_ptp_status_encode(&device->ptp_status));
  }
  VlJsonRef audio_devices;
  {
    VlLock lock(device->audio_lock);
    audio_devices.reset(vl_audio_device_list_encode(device->audio_devices.get()));
  }
  VlJsonRef sessions;
  {
    VlLock lock(device->session_lock);
    sessions.reset(vl_session_list_encode(device->sessions.get()));
  }
  return json_pack("{s:o, s:o, s:o, s:O, s:O, s:O}", "vl_version", vl_version_encode(device->version.get()),
                   "device_id", vl_device_id_encode(device->id.get()), "network_interface",
                   vl_network_interface_encode(device->interfaces.get()), "ptp_status", ptp_status.get(),
                   "audio_device_list", audio_devices.get(), "session_list", sessions.get());
}

int vl_device_decode_session(VlDevice* device, const json_t* json) {
  VlSessionId id{};
  if (!device || !vl_session_id_decode(json_object_get(json, "session_id"), &id)) return -1;
  const char* name = json_string_value(json_object_get(json, "network_interface_name"));
  VlSession* session = vl_device_add_session(device, name, id.address, id.port);
  if (!session) return -1;
  // The description is the daemon's state now: it replaces the streams a
  // session the copy already holds had.
  vl_session_replace_sender(session, vl_stream_sender_decode(json_object_get(json, "session_sender")));
  vl_session_replace_receiver(session, vl_stream_receiver_decode(json_object_get(json, "session_receiver")));
  return 0;
}

namespace {

// The parts of a description in the device, each replacing the constructor's;
// the text of the first that fails, or null.
const char* decode_parts(VlDevice* device, const json_t* json) {
  VlDeviceId* id = vl_device_id_decode(json_object_get(json, "device_id"));
  if (!id) return "device id couldn't be decoded";
  device->id.reset(id);
  VlNetworkInterface* interfaces = vl_network_interface_decode(json_object_get(json, "network_interface"));
  if (!interfaces) return "no network devices found";
  device->interfaces.reset(interfaces);
  std::unique_ptr<VlPtpStatus> status(vl_ptp_status_decode(json_object_get(json, "ptp_status")));
  if (!status) return "ptp status couldn't be decoded";
  device->ptp_status = *status;
  VlAudioDevice* audio_devices = vl_audio_device_list_decode(json_object_get(json, "audio_device_list"));
  if (!audio_devices) return "no audio devices found";
  device->audio_devices.reset(audio_devices);
  return nullptr;
}

}  // namespace

// Sessions are decoded from the last to the first, so that the list has
// the description's order.
VlDevice* vl_device_decode(const json_t* json) {
  if (json_object_size(json) == 0) {
    errno = EINVAL;
    return nullptr;
  }
  std::unique_ptr<VlDevice, void (*)(VlDevice*)> device(vl_device_ctor(nullptr), vl_device_dtor);
  if (!device) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "device ctor failed");
    return nullptr;
  }
  if (const char* failure = decode_parts(device.get(), json)) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "%s", failure);
    char* text = json_dumps(json, JSON_COMPACT | JSON_PRESERVE_ORDER);
    VL_LOG(vl_log_general(), VL_LOG_INFO, "faulty device description was: %s", text ? text : "");
    std::free(text);
    return nullptr;
  }
  const json_t* sessions = json_object_get(json, "session_list");
  for (std::size_t i = json_array_size(sessions); i > 0; --i)
    vl_device_decode_session(device.get(), json_array_get(sessions, i - 1));
  return device.release();
}
