#include "vl/vl_stream_receiver.h"

#include "vlsys/vl_log.h"
#include "vlutil/vl_json.h"
#include "vlutil/vl_json_ref.h"
#include "vlutil/vl_sdp_stream.h"

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

const char* key(vl_json_key_index index) { return vl_json_keys[index].name; }

VlObject* load_list(const json_t* json) { return vl_stream_receiver_list_load(json); }

using ReceiverPtr = std::unique_ptr<VlStreamReceiver, VlStreamDeleter>;

}  // namespace

const VlTypeDescriptor vl_stream_receiver_ts = {&vl_stream_ts, "VlStreamReceiver", load_list};

VlStreamReceiver::~VlStreamReceiver() {
  if (manager_ && handle_) vl_recvmgr_remove_stream(manager_, handle_);
}

VlStreamReceiver* VlStreamReceiver::make(const char* sdp, const char* audio_device_name) {
  return static_cast<VlStreamReceiver*>(
      VlStream::make(allocate, sdp, audio_device_name, "Could not get channel map size!",
                     "Couldn't allocate receiver stream structure!"));
}

// A stream without a receive manager on its interface stays detached.
bool VlStreamReceiver::attach(const VlNetworkInterface* interface, VlAudioDevice* audio_device, int32_t delay) {
  delay_ = delay;
  if (!interface || !interface->recv_manager) return true;
  VlPlayIfc* play = vl_audio_play_ifc(audio_device);
  if (!play) return false;
  handle_ = vl_recvmgr_add_stream(interface->recv_manager, &interface->entry, sdp(), play, delay);
  if (!handle_) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Could not create stream receiver!");
    return false;
  }
  manager_ = interface->recv_manager;
  return true;
}

VlStreamReceiver* VlStreamReceiver::decode(const json_t* json) {
  return static_cast<VlStreamReceiver*>(
      VlStream::decode(allocate, json, "Could not allocate memory for VlStreamReceiver!"));
}

void VlStreamReceiver::read_own_keys(const json_t* json) {
  const char* name = nullptr;
  json_t* value = nullptr;
  json_object_foreach(const_cast<json_t*>(json), name, value) {
    if (vl_json_key("VlStreamReceiver", name, value) == VL_KEY_STREAM_END2ENDDELAY)
      delay_ = static_cast<int32_t>(json_integer_value(value));
  }
}

int VlStreamReceiver::manager_set_map(const VlChannelMap* map) {
  return vl_recvmgr_set_channel_map(manager_, handle_, map);
}

bool VlStreamReceiver::refresh_statistics() {
  if (!attached()) return false;
  uint32_t lsr = 0;
  {
    VlLock lock(sender_lock_);
    lsr = sender_info_.rtp_ts;
  }
  VlLock lock(receiver_lock_);
  reception_.lsr = lsr;
  if (!vl_recvmgr_get_receiver_info(manager_, handle_, &reception_)) return false;
  ++reception_.report_count;
  return true;
}

void VlStreamReceiver::copy_statistics(VlReceiverInfo* out) const {
  VlLock lock(receiver_lock_);
  *out = reception_;
  out->next = nullptr;
}

json_t* VlStreamReceiver::encode() const {
  VlJsonRef json(json_object());
  if (!json || !VlStream::store(json.get())) return nullptr;
  json_object_set_new(json.get(), key(VL_KEY_STREAM_END2ENDDELAY), json_integer(delay_));
  return json.release();
}

bool VlStreamReceiver::store(json_t* array) const {
  if (!json_is_array(array)) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Invalid value for VlStreamReceiver::store()");
    errno = EINVAL;
    return false;
  }
  for (const VlStreamReceiver* r = this; r; r = r->next)
    if (json_array_append_new(array, r->encode()) != 0) return false;
  return true;
}

json_t* VlStreamReceiver::encode_receivers() const { return vl_receiver_info_encode(&reception_); }

VlReceiverInfo* VlStreamReceiver::receiver_info() {
  VlLock lock(receiver_lock_);
  return reception_.ssrc != 0 ? vl_receiver_info_copy(&reception_) : nullptr;
}

VlSenderInfo* VlStreamReceiver::sender_info() {
  VlLock lock(sender_lock_);
  return sender_info_.rtp_ts != 0 ? vl_sender_info_copy(&sender_info_) : nullptr;
}

int VlStreamReceiver::decode_info(const json_t* json) {
  if (json_object_size(json) == 0) return 0;
  std::unique_ptr<VlSenderInfo, void (*)(VlSenderInfo*)> sender(
      vl_sender_info_decode(json_object_get(json, key(VL_KEY_RTCP_SENDER_INFO))), vl_sender_info_dtor);
  {
    VlLock lock(sender_lock_);
    sender_info_ = sender ? *sender : VlSenderInfo{};
  }
  VlReceiverInfoPtr reception(vl_receiver_info_decode(json_object_get(json, key(VL_KEY_RTCP_RECEIVER_INFO))));
  if (reception) {
    VlLock lock(receiver_lock_);
    reception_ = *reception;
    reception_.next = nullptr;
  }
  return 0;
}

// A receiver that has no source yet (SSRC 0) is nobody's.
VlStreamReceiver* VlStreamReceiver::receiving(uint32_t ssrc) {
  for (VlStreamReceiver* r = this; r; r = r->next) {
    VlLock lock(r->receiver_lock_);
    if (ssrc != 0 && r->reception_.ssrc == ssrc) return r;
  }
  return nullptr;
}

void VlStreamReceiver::update_sender_info(uint32_t ssrc, const uint32_t report[vl_sender_report_words]) {
  VlStreamReceiver* r = receiving(ssrc);
  if (!r) return;
  VlLock lock(r->sender_lock_);
  vl_sender_info_update(&r->sender_info_, ssrc, report);
}

// The record holds 126 characters and the terminator.
void VlStreamReceiver::update_cname(uint32_t ssrc, const char* cname) {
  VlStreamReceiver* r = receiving(ssrc);
  if (!r) return;
  VlLock lock(r->receiver_lock_);
  std::strncpy(r->reception_.cname, cname, sizeof r->reception_.cname - 1);
  r->reception_.cname[sizeof r->reception_.cname - 1] = '\0';
}

void VlStreamReceiver::cleanup_info(uint32_t ssrc) {
  VlStreamReceiver* r = receiving(ssrc);
  if (!r) return;
  {
    VlLock lock(r->receiver_lock_);
    r->reception_ = VlReceiverInfo{};
  }
  VlLock lock(r->sender_lock_);
  r->sender_info_ = VlSenderInfo{};
}

VlStreamReceiver* vl_stream_receiver_ctor(const VlNetworkInterface* interface, const char* sdp,
                                          VlAudioDevice* audio_device, int32_t delay) {
  ReceiverPtr stream(VlStreamReceiver::make(sdp, audio_device ? audio_device->name : nullptr));
  if (!stream || !stream->attach(interface, audio_device, delay)) return nullptr;
  return stream.release();
}

VlStreamReceiver* vl_stream_receiver_load(VlDevice* device, const VlNetworkInterface* interface, const json_t* json) {
  VlAudioDevice* audio_device = nullptr;
  const char* sdp = nullptr;
  if (!vl_stream_stored_parts(device, json, &audio_device, &sdp)) return nullptr;
  const json_t* delay = json_object_get(json, key(VL_KEY_STREAM_END2ENDDELAY));
  ReceiverPtr stream(vl_stream_receiver_ctor(interface, sdp, audio_device,
                                             json_is_integer(delay) ? static_cast<int32_t>(json_integer_value(delay)) : 0));
  if (!stream || vl_stream_apply_stored_map(stream.get(), json) != 0) return nullptr;
  return stream.release();
}

json_t* vl_stream_receiver_encode(const VlStreamReceiver* stream) {
  return stream ? stream->encode() : json_object();
}

VlStreamReceiver* vl_stream_receiver_decode(const json_t* json) { return VlStreamReceiver::decode(json); }

const VlReceiverInfo* vl_stream_receiver_stat(VlStreamReceiver* stream) {
  if (!stream) return nullptr;
  if (stream->refresh_statistics()) {
    stream->statistics_ok();
    return &stream->statistics();
  }
  if (stream->first_statistics_failure()) {
    VlSdpStream sdp;
    vl_sdp_stream_read(stream->sdp(), &sdp);
    VL_LOG(vl_log_general(), VL_LOG_NOTICE, "RTCP info not available for stream %s:%i", sdp.dst_addr, sdp.dst_port);
  }
  return nullptr;
}

bool vl_stream_receiver_stat_copy(VlStreamReceiver* stream, VlReceiverInfo* out) {
  if (!vl_stream_receiver_stat(stream)) return false;
  stream->copy_statistics(out);
  return true;
}

int32_t vl_stream_receiver_delay(const VlStreamReceiver* stream) { return stream ? stream->delay() : 0; }

VlStreamReceiver* vl_stream_receiver_push(VlStreamReceiver* head, VlStreamReceiver* receiver) {
  if (!receiver) return head;
  receiver->previous = nullptr;
  receiver->next = head;
  if (head) head->previous = receiver;
  return receiver;
}

// The popped receiver keeps its own links.
VlStreamReceiver* vl_stream_receiver_pop(VlStreamReceiver* head, VlStreamReceiver* receiver) {
  VlStreamReceiver* r = head;
  while (r && r != receiver) r = r->next;
  if (!r) return head;
  if (r->next) r->next->previous = r->previous;
  if (r->previous) r->previous->next = r->next;
  return r == head ? r->next : head;
}

VlStreamReceiver* vl_stream_receiver_next(const VlStreamReceiver* receiver) { return receiver ? receiver->next : nullptr; }

VlStreamReceiver* vl_stream_receiver_list_load(const json_t* array) {
  if (!json_is_array(array)) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Invalid value for VlStreamReceiver::load()");
    errno = EINVAL;
    return nullptr;
  }
  VlStreamReceiver* head = nullptr;
  std::size_t index = 0;
  json_t* element = nullptr;
  json_array_foreach(array, index, element) head = vl_stream_receiver_push(head, vl_stream_receiver_decode(element));
  return head;
}
