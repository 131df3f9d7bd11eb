#include "vl/vl_stream_sender.h"

#include "vlsys/vl_log.h"
#include "vlutil/vl_json.h"
#include "vlutil/vl_json_ref.h"
#include "vlutil/vl_sdp_stream.h"

#include <cerrno>
#include <memory>

const VlTypeDescriptor vl_stream_sender_ts = {&vl_stream_ts, "VlStreamSender", nullptr};

namespace {

constexpr uint32_t default_dscp = 46;  // expedited forwarding, as AES67 asks for media

const char* key(vl_json_key_index index) { return vl_json_keys[index].name; }

json_int_t integer_member(const json_t* json, vl_json_key_index index, json_int_t otherwise) {
  const json_t* value = json_object_get(json, key(index));
  return json_is_integer(value) ? json_integer_value(value) : otherwise;
}

using SenderPtr = std::unique_ptr<VlStreamSender, VlStreamDeleter>;

}  // namespace

VlStreamSender::~VlStreamSender() {
  sap_announcement_.reset();
  if (manager_ && handle_) vl_sendmgr_remove_stream(manager_, handle_);
}

VlStreamSender* VlStreamSender::make(const char* sdp, const char* audio_device_name) {
  return static_cast<VlStreamSender*>(
      VlStream::make(allocate, sdp, audio_device_name, "Could not get channel map count!",
                     "Couldn't allocate sender stream structure!"));
}

// A stream without a send manager on its interface stays detached.
bool VlStreamSender::attach(const VlNetworkInterface* interface, VlAudioDevice* audio_device, uint32_t ssrc,
                            uint16_t seqno, uint32_t packet_duration, uint8_t dscp) {
  sender_info_.ssrc = ssrc;
  dscp_ = dscp;
  packet_duration_ = static_cast<int32_t>(packet_duration);
  if (!interface || !interface->send_manager) return true;
  VlCaptureIfc* capture = vl_audio_capture_ifc(audio_device);
  if (!capture) return false;
  handle_ = vl_sendmgr_add_stream(interface->send_manager, &interface->entry, sdp(), capture, ssrc, seqno,
                                  packet_duration, dscp);
  if (!handle_) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Could not create stream sender!");
    return false;
  }
  manager_ = interface->send_manager;
  return true;
}

VlStreamSender* VlStreamSender::decode(const json_t* json) {
  return static_cast<VlStreamSender*>(
      VlStream::decode(allocate, json, "Could not allocate memory for VlStreamSender!"));
}

void VlStreamSender::read_own_keys(const json_t* json) {
  const char* name = nullptr;
  json_t* value = nullptr;
  json_object_foreach(const_cast<json_t*>(json), name, value) {
    switch (vl_json_key("VlStreamSender", name, value)) {
      case VL_KEY_STREAM_DSCP: dscp_ = static_cast<uint32_t>(json_integer_value(value)); break;
      case VL_KEY_STREAM_PACKETDURATION: packet_duration_ = static_cast<int32_t>(json_integer_value(value)); break;
      case VL_KEY_STREAM_SAP: sap_enabled_ = json_integer_value(value) != 0; break;
      default: break;
    }
  }
}

int VlStreamSender::manager_set_map(const VlChannelMap* map) {
  return vl_sendmgr_set_channel_map(manager_, handle_, map);
}

bool VlStreamSender::refresh_statistics() {
  VlSenderInfo fresh{};
  const bool filled = attached() && vl_sendmgr_get_sender_info(manager_, handle_, &fresh);
  if (filled) {
    VlLock lock(sender_lock_);
    fresh.ssrc = sender_info_.ssrc;
    sender_info_ = fresh;
  }
  return filled;
}

void VlStreamSender::copy_statistics(VlSenderInfo* out) const {
  VlLock lock(sender_lock_);
  *out = sender_info_;
}

json_t* VlStreamSender::encode() const {
  VlJsonRef json(json_object());
  if (!json || !VlStream::store(json.get())) return nullptr;
  json_object_set_new(json.get(), key(VL_KEY_STREAM_DSCP), json_integer(dscp_));
  json_object_set_new(json.get(), key(VL_KEY_STREAM_PACKETDURATION), json_integer(packet_duration_));
  json_object_set_new(json.get(), key(VL_KEY_STREAM_SAP), json_integer(sap_enabled_ ? 1 : 0));
  return json.release();
}

VlReceiverInfo* VlStreamSender::receiver_info() {
  VlLock lock(receiver_lock_);
  return receivers_ ? vl_receiver_info_copy(receivers_.get()) : nullptr;
}

VlSenderInfo* VlStreamSender::sender_info() {
  VlLock lock(sender_lock_);
  return sender_info_.rtp_ts != 0 ? vl_sender_info_copy(&sender_info_) : nullptr;
}

int VlStreamSender::decode_info(const json_t* json) {
  if (json_object_size(json) == 0) {
    errno = EINVAL;
    return -1;
  }
  std::unique_ptr<VlSenderInfo, void (*)(VlSenderInfo*)> decoded(
      vl_sender_info_decode(json_object_get(json, key(VL_KEY_RTCP_SENDER_INFO))), vl_sender_info_dtor);
  if (decoded) {
    VlLock lock(sender_lock_);
    sender_info_ = *decoded;
  }
  VlReceiverInfoPtr receivers(vl_receiver_info_decode(json_object_get(json, key(VL_KEY_RTCP_RECEIVER_INFO))));
  VlLock lock(receiver_lock_);
  receivers_ = std::move(receivers);
  return 0;
}

void VlStreamSender::update_cname(uint32_t ssrc, const char* cname) {
  VlLock lock(receiver_lock_);
  vl_receiver_info_update_cname(receivers_.get(), ssrc, cname);
}

void VlStreamSender::update_receiver_info(uint32_t ssrc, const uint32_t block[vl_report_block_words]) {
  VlLock lock(receiver_lock_);
  receivers_.reset(vl_receiver_info_update(receivers_.release(), ssrc, block));
}

void VlStreamSender::remove_outdated_receiver_info() {
  VlLock lock(receiver_lock_);
  receivers_.reset(vl_receiver_info_remove_outdated(receivers_.release()));
}

void VlStreamSender::cleanup_info(uint32_t ssrc) {
  VlLock lock(receiver_lock_);
  receivers_.reset(vl_receiver_info_remove_by_ssrc(receivers_.release(), ssrc));
}

VlStreamSender* vl_stream_sender_ctor(const VlNetworkInterface* interface, const char* sdp,
                                      VlAudioDevice* audio_device, uint32_t ssrc, uint16_t seqno,
                                      uint32_t packet_duration, uint8_t dscp) {
  SenderPtr stream(VlStreamSender::make(sdp, audio_device ? audio_device->name : nullptr));
  if (!stream || !stream->attach(interface, audio_device, ssrc, seqno, packet_duration, dscp)) return nullptr;
  return stream.release();
}

VlStreamSender* vl_stream_sender_load(VlDevice* device, const VlNetworkInterface* interface, uint32_t ssrc,
                                      const json_t* json) {
  VlAudioDevice* audio_device = nullptr;
  const char* sdp = nullptr;
  if (!vl_stream_stored_parts(device, json, &audio_device, &sdp)) return nullptr;
  const auto seqno = static_cast<uint16_t>(integer_member(json, VL_KEY_STREAM_SEQNO, 0));
  const auto packet_duration = static_cast<uint32_t>(integer_member(json, VL_KEY_STREAM_PACKETDURATION, 0));
  auto dscp = static_cast<uint8_t>(integer_member(json, VL_KEY_STREAM_DSCP, default_dscp));
  if (dscp == 0) dscp = default_dscp;
  SenderPtr stream(vl_stream_sender_ctor(interface, sdp, audio_device, ssrc, seqno, packet_duration, dscp));
  if (!stream || vl_stream_apply_stored_map(stream.get(), json) != 0) return nullptr;
  stream->set_sap_enabled(integer_member(json, VL_KEY_STREAM_SAP, 1) != 0);
  return stream.release();
}

json_t* vl_stream_sender_encode(const VlStreamSender* stream) { return stream ? stream->encode() : json_object(); }

VlStreamSender* vl_stream_sender_decode(const json_t* json) { return VlStreamSender::decode(json); }

const VlSenderInfo* vl_stream_sender_stat(VlStreamSender* stream) {
  if (!stream) return nullptr;
  if (stream->refresh_statistics()) {
    stream->statistics_ok();
    return &stream->statistics();
  }
  if (stream->first_statistics_failure()) {
    VlSdpStream sdp;
    vl_sdp_stream_read(stream->sdp(), &sdp);
    VL_LOG(vl_log_general(), VL_LOG_WARN, "Stream sender statistics not available for stream %s:%i", sdp.dst_addr,
           sdp.dst_port);
  }
  return nullptr;
}

bool vl_stream_sender_stat_copy(VlStreamSender* stream, VlSenderInfo* out) {
  if (!vl_stream_sender_stat(stream)) return false;
  stream->copy_statistics(out);
  return true;
}

uint32_t vl_stream_sender_packet_duration(const VlStreamSender* stream) {
  return stream ? stream->packet_duration() : 0;
}
uint8_t vl_stream_sender_dscp(const VlStreamSender* stream) { return stream ? stream->dscp() : 0; }
void vl_stream_sender_close(VlStreamSender* stream) {
  if (stream) stream->close();
}
bool vl_stream_sender_is_closed(const VlStreamSender* stream) { return stream && stream->is_closed(); }
