#include "vl/vl_stream.h"

#include "vl/vl_device.h"

#include "vlsys/vl_log.h"
#include "vlutil/vl_json.h"
#include "vlutil/vl_json_ref.h"
#include "vlutil/vl_sdp.h"
#include "vlutil/vl_sdp_stream.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

const VlTypeDescriptor vl_stream_ts = {&vl_object_ts, "VlStream", nullptr};

namespace {

const char* key(vl_json_key_index index) { return vl_json_keys[index].name; }

}  // namespace

uint32_t vl_stream_channel_count(const char* sdp) {
  VlSdpStream stream;
  vl_sdp_stream_read(sdp, &stream);
  // The third field of "<name>/<rate>/<channels>"; without it one channel.
  std::string_view encoding(stream.encoding);
  for (int slash = 0; slash < 2; ++slash) {
    const std::size_t at = encoding.find('/');
    if (at == std::string_view::npos) return slash == 1 ? 1 : 0;
    encoding.remove_prefix(at + 1);
  }
  if (encoding.empty() || encoding.size() > 4) return 0;
  uint32_t count = 0;
  for (const char c : encoding) {
    if (c < '0' || c > '9') return 0;
    count = count * 10 + static_cast<uint32_t>(c - '0');
  }
  return count <= vl_channel_map_max_count ? count : 0;
}

bool VlStream::init(const char* sdp, const char* audio_device_name, VlChannelMapPtr map) {
  map_ = std::move(map);
  if (audio_device_name) std::strncpy(audio_device_name_, audio_device_name, sizeof audio_device_name_ - 1);
  try {
    sdp_ = sdp ? sdp : "";
  } catch (const std::bad_alloc&) {
    VL_LOG(vl_log_general(), VL_LOG_FATAL, "Allocation error for sdp!");
    return false;
  }
  if (!sender_lock_.made() || !receiver_lock_.made()) {
    VL_LOG(vl_log_general(), VL_LOG_FATAL, "Allocation error for stream statistics!");
    return false;
  }
  return map_ != nullptr;
}

namespace {

std::unique_ptr<VlStream, VlStreamDeleter> allocate_or_log(VlStream* (*allocate)(), const char* out_of_memory) {
  std::unique_ptr<VlStream, VlStreamDeleter> stream(allocate());
  if (!stream) VL_LOG(vl_log_general(), VL_LOG_FATAL, "%s", out_of_memory);
  return stream;
}

}  // namespace

VlStream* VlStream::make(Allocate allocate, const char* sdp, const char* audio_device_name, const char* no_channels,
                         const char* out_of_memory) {
  const uint32_t channels = vl_stream_channel_count(sdp);
  if (channels == 0) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "%s", no_channels);
    return nullptr;
  }
  auto stream = allocate_or_log(allocate, out_of_memory);
  if (!stream || !stream->init(sdp, audio_device_name, VlChannelMapPtr(vl_channel_map_ctor(nullptr, channels))))
    return nullptr;
  return stream.release();
}

VlStream* VlStream::decode(Allocate allocate, const json_t* json, const char* out_of_memory) {
  if (json_object_size(json) == 0) {
    errno = EINVAL;
    return nullptr;
  }
  auto stream = allocate_or_log(allocate, out_of_memory);
  if (!stream || !stream->load(json)) return nullptr;
  stream->read_own_keys(json);
  return stream.release();
}

// A stream cannot exist without its SDP text, so a stored stream without one
// does not load.
bool VlStream::load(const json_t* json) {
  VlChannelMapPtr map;
  const char* sdp = nullptr;
  const char* device_name = nullptr;
  const char* name = nullptr;
  json_t* value = nullptr;
  json_object_foreach(const_cast<json_t*>(json), name, value) {
    switch (vl_json_key("VlStream", name, value)) {
      case VL_KEY_STREAM_CHANNELMAP: map.reset(vl_channel_map_decode(value)); break;
      case VL_KEY_STREAM_SDP: sdp = json_string_value(value); break;
      case VL_KEY_AUDIO_DEVICE_NAME: device_name = json_string_value(value); break;
      default: break;
    }
  }
  const bool mistyped = (json_object_get(json, key(VL_KEY_STREAM_SDP)) && !sdp) ||
                        (json_object_get(json, key(VL_KEY_AUDIO_DEVICE_NAME)) && !device_name) ||
                        (json_object_get(json, key(VL_KEY_STREAM_CHANNELMAP)) && !map);
  if (mistyped || !sdp) return false;
  return init(sdp, device_name, std::move(map));
}

bool VlStream::store(json_t* json) const {
  return json_object_set_new(json, key(VL_KEY_STREAM_SDP), json_string(sdp_.c_str())) == 0 &&
         json_object_set_new(json, key(VL_KEY_AUDIO_DEVICE_NAME), json_string(audio_device_name_)) == 0 &&
         json_object_set_new(json, key(VL_KEY_STREAM_CHANNELMAP), vl_channel_map_encode(map_.get())) == 0;
}

json_t* VlStream::encode_info() {
  VlJsonRef info(json_object());
  if (!info) return nullptr;
  {
    VlLock lock(sender_lock_);
    json_object_set_new(info.get(), key(VL_KEY_RTCP_SENDER_INFO), vl_sender_info_encode(&sender_info_));
  }
  {
    VlLock lock(receiver_lock_);
    json_object_set_new(info.get(), key(VL_KEY_RTCP_RECEIVER_INFO), encode_receivers());
  }
  return info.release();
}

int VlStream::set_map(const VlChannelMap* map) {
  if (!attached() || !map) {
    VL_LOG(vl_log_general(), VL_LOG_DEBUG, "Invalid parameters, could not set channel map!");
    return -1;
  }
  if (map->count() != map_->count()) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Invalid channel map size. should: %i, is: %i",
           static_cast<int>(map_->count()), static_cast<int>(map->count()));
    return -1;
  }
  VlChannelMapPtr copy(vl_channel_map_remap(map, nullptr, 0));
  if (!copy || manager_set_map(copy.get()) != 0) return -1;
  map_ = std::move(copy);
  return 0;
}

json_t* VlStream::encode_receivers() const { return json_array(); }
VlReceiverInfo* VlStream::receiver_info() { return nullptr; }
VlSenderInfo* VlStream::sender_info() { return nullptr; }
int VlStream::decode_info(const json_t*) { return -1; }
void VlStream::update_cname(uint32_t, const char*) {}
void VlStream::update_sender_info(uint32_t, const uint32_t*) {}
void VlStream::update_receiver_info(uint32_t, const uint32_t*) {}
void VlStream::remove_outdated_receiver_info() {}
void VlStream::cleanup_info(uint32_t) {}

int vl_stream_store(const VlStream* stream, json_t* json) {
  return vl_object_is_a(stream, vl_stream_ts) && stream->store(json) ? 1 : 0;
}

const char* vl_stream_sdp(const VlStream* stream) { return stream ? stream->sdp() : nullptr; }
const char* vl_stream_audio_device_name(const VlStream* stream) {
  return stream ? stream->audio_device_name() : nullptr;
}
const VlChannelMap* vl_stream_channel_map(const VlStream* stream) { return stream ? stream->channel_map() : nullptr; }

int vl_stream_ttl(const VlStream* stream) {
  char address[vl_sdp_addr_size];
  return vl_sdp_dst_addr(vl_stream_sdp(stream), address);
}

int vl_stream_set_channel_map(VlStream* stream, const VlChannelMap* map, const void*) {
  return stream ? stream->set_map(map) : -1;
}

VlReceiverInfo* vl_stream_receiver_info(VlStream* stream, VlReceiverInfo** out) {
  *out = stream ? stream->receiver_info() : nullptr;
  return *out;
}

VlSenderInfo* vl_stream_sender_info(VlStream* stream, VlSenderInfo** out) {
  *out = stream ? stream->sender_info() : nullptr;
  return *out;
}

json_t* vl_stream_encode_info(VlStream* stream) { return stream ? stream->encode_info() : json_object(); }

int vl_stream_decode_info(VlStream* stream, const json_t* json) { return stream ? stream->decode_info(json) : -1; }

void vl_stream_update_cname(VlStream* stream, uint32_t ssrc, const char* cname) {
  if (stream && cname) stream->update_cname(ssrc, cname);
}

void vl_stream_update_sender_info(VlStream* stream, uint32_t ssrc, const uint32_t report[vl_sender_report_words]) {
  if (stream) stream->update_sender_info(ssrc, report);
}

void vl_stream_update_receiver_info(VlStream* stream, uint32_t ssrc, const uint32_t block[vl_report_block_words]) {
  if (stream) stream->update_receiver_info(ssrc, block);
}

void vl_stream_remove_outdated_receiver_info(VlStream* stream) {
  if (stream) stream->remove_outdated_receiver_info();
}

void vl_stream_cleanup_info(VlStream* stream, uint32_t ssrc) {
  if (stream) stream->cleanup_info(ssrc);
}

bool vl_stream_stored_parts(VlDevice* device, const json_t* json, VlAudioDevice** audio_device, const char** sdp) {
  if (json_object_size(json) == 0) return false;
  *audio_device = vl_device_audio_find(device, json_string_value(json_object_get(json, key(VL_KEY_AUDIO_DEVICE_NAME))));
  *sdp = json_string_value(json_object_get(json, key(VL_KEY_STREAM_SDP)));
  return *audio_device && *sdp;
}

int vl_stream_apply_stored_map(VlStream* stream, const json_t* json) {
  VlChannelMapPtr map(vl_channel_map_decode(json_object_get(json, key(VL_KEY_STREAM_CHANNELMAP))));
  return map ? vl_stream_set_channel_map(stream, map.get(), nullptr) : -1;
}
