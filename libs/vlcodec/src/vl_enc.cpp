#include "vlcodec/vl_enc.h"

#include "codec_registry.h"
#include "codec_setup.h"
#include "vlcodec/codec.h"
#include "vlsys/vl_log.h"

#include <cerrno>
#include <cstring>

const VlEncTypeDescriptor vl_enc_ts = {{&vl_object_ts, "VlEnc", nullptr}, nullptr, nullptr};

namespace {

VL_LOG_CATEGORY(category, "velanto.encoders")
int users = 0;
CodecRegistry<VlEncTypeDescriptor> registry;

}  // namespace

log4c_category_t* vl_encoder_category() { return category(); }

VlEnc::VlEnc(VlCaptureIfc* capture) : capture_(capture), map_(nullptr) {}

uint32_t VlEnc::channels() {
  const VlCodecMap::Reader reader(map_);
  return reader.map() ? static_cast<uint32_t>(reader.map()->count()) : 0;
}

vl_rational VlEnc::timescale() { return timescale_; }

int VlEnc::set_map(const VlChannelMap* map) { return vl_codec_install_map(map_, map, frame_stride_); }

VlChannelMap* VlEnc::get_map() {
  const VlCodecMap::Reader reader(map_);
  return reader.map() ? vl_channel_map_remap(reader.map(), nullptr, 0) : nullptr;
}

uint64_t VlEnc::get_buffer_size(uint64_t) { vl_object_abort("vl_enc_get_buffer_size"); }

uint64_t VlEnc::process(uint64_t, uint32_t, uint8_t*, uint64_t*) { vl_object_abort("vl_enc_process"); }

bool VlEnc::configure(const VlSdpStream& sdp, const char* ctor_name) {
  CodecSdp parsed{};
  if (!read_codec_sdp(sdp, &parsed)) {
    errno = EINVAL;
    return false;
  }
  std::memcpy(stream_name_, sdp.name, sizeof stream_name_);
  timescale_ = parsed.timescale;
  bool ok = true;
  if (timescale_.den == 0) {
    VL_LOG(category(), VL_LOG_ERROR, "%s: timescale denominator = 0!", ctor_name);
    ok = false;
  }
  if (parsed.channels == 0) {
    VL_LOG(category(), VL_LOG_ERROR, "%s: vl_codec_mime_decode delivered channels = 0!", ctor_name);
    ok = false;
  }
  if (parsed.channels > vl_codec_max_channels) {
    VL_LOG(category(), VL_LOG_ERROR, "%s: %u channels exceed the limit of %u!", ctor_name, parsed.channels,
           vl_codec_max_channels);
    ok = false;
  }
  if (!sdp.has_name) {
    VL_LOG(category(), VL_LOG_ERROR, "%s: could not decode associated stream name from SDP!", ctor_name);
    ok = false;
  }
  if (ok) ok = codec_rate_matches(category(), sdp, timescale_, capture_->properties()->rate);
  VlChannelMapPtr map(ok ? unconnected_map(parsed.channels) : nullptr);
  if (!map) {
    errno = EINVAL;
    return false;
  }
  map_.replace(std::move(map));
  frame_stride_ = capture_->properties()->channels;
  return true;
}

uint32_t vl_enc_channels(VlEnc* enc) { return enc->channels(); }
vl_rational vl_enc_timescale(VlEnc* enc) { return enc->timescale(); }
int vl_enc_set_map(VlEnc* enc, const VlChannelMap* map) { return enc->set_map(map); }
VlChannelMap* vl_enc_get_map(VlEnc* enc) { return enc->get_map(); }
uint64_t vl_enc_get_buffer_size(VlEnc* enc, uint64_t frames) { return enc->get_buffer_size(frames); }
uint64_t vl_enc_process(VlEnc* enc, uint64_t frames, uint32_t ts, uint8_t* buffer, uint64_t* size) {
  return enc->process(frames, ts, buffer, size);
}

// Every send or receive manager initialises the registry; it is filled by
// the first and emptied by the last, so that managers of several network
// interfaces share it.
int vl_encoders_init() {
  category();  // listed from start-up on
  return users++ == 0 ? vl_register_encoders() : 0;
}

void vl_encoders_done() {
  if (users > 0 && --users == 0) vl_enc_unregister_all();
}

int vl_enc_register(const char* name, const VlEncTypeDescriptor* descriptor) {
  return registry.add(name, descriptor) ? 0 : -1;
}

void vl_enc_unregister_all() { registry.clear(); }

vl_enc_make_fn vl_enc_find(const char* encoding) {
  vl_enc_make_fn make = registry.find(encoding);
  if (!make) VL_LOG(category(), VL_LOG_ERROR, "Invalid encoder: %s", encoding ? encoding : "(null)");
  return make;
}

int vl_enc_foreach_mime(void* arg, vl_codec_mime_fn fn) { return fn ? registry.foreach_mime(arg, fn) : 0; }
