#include "vlcodec/vl_dec.h"

#include "codec_registry.h"
#include "codec_setup.h"
#include "vlsys/vl_log.h"

#include <cerrno>
#include <cstring>

const VlDecTypeDescriptor vl_dec_ts = {{&vl_object_ts, "VlDec", nullptr}, nullptr, nullptr};

namespace {

VL_LOG_CATEGORY(category, "velanto.decoders")
int users = 0;
CodecRegistry<VlDecTypeDescriptor> registry;

}  // namespace

log4c_category_t* vl_decoder_category() { return category(); }

VlDec::VlDec(VlPlayIfc* play) : play_(play), map_(nullptr) {}

uint32_t VlDec::channels() {
  const VlCodecMap::Reader reader(map_);
  return reader.map() ? static_cast<uint32_t>(reader.map()->count()) : 0;
}

vl_rational VlDec::timescale() { return timescale_; }

int VlDec::set_map(const VlChannelMap* map) { return vl_codec_install_map(map_, map, play_->properties()->channels); }

VlChannelMap* VlDec::get_map() {
  const VlCodecMap::Reader reader(map_);
  return reader.map() ? vl_channel_map_remap(reader.map(), nullptr, 0) : nullptr;
}

int32_t VlDec::process(uint32_t, const uint8_t*, int32_t) { vl_object_abort("vl_dec_process"); }

bool VlDec::configure(const VlSdpStream& sdp) {
  CodecSdp parsed{};
  errno = EINVAL;
  if (!read_codec_sdp(sdp, &parsed)) return false;
  std::memcpy(stream_name_, sdp.name, sizeof stream_name_);
  timescale_ = parsed.timescale;
  if (parsed.channels == 0 || parsed.channels > vl_codec_max_channels || timescale_.den == 0) return false;
  if (!sdp.has_name) {
    VL_LOG(category(), VL_LOG_ERROR, "Could not decode associated stream name from SDP!");
    return false;
  }
  if (!codec_rate_matches(category(), sdp, timescale_, play_->properties()->rate)) return false;
  VlChannelMapPtr map(unconnected_map(parsed.channels));
  if (!map) return false;
  map_.replace(std::move(map));
  return true;
}

uint32_t vl_dec_channels(VlDec* dec) { return dec->channels(); }
vl_rational vl_dec_timescale(VlDec* dec) { return dec->timescale(); }
int vl_dec_set_map(VlDec* dec, const VlChannelMap* map) { return dec->set_map(map); }
VlChannelMap* vl_dec_get_map(VlDec* dec) { return dec->get_map(); }
int32_t vl_dec_process(VlDec* dec, uint32_t ts, const uint8_t* payload, int32_t length) {
  return dec->process(ts, payload, length);
}

// Every send or receive manager initialises the registry; it is filled by
// the first and emptied by the last, so that managers of several network
// interfaces share it.
int vl_decoders_init() {
  category();  // listed from start-up on
  return users++ == 0 ? vl_register_decoders() : 0;
}

void vl_decoders_done() {
  if (users > 0 && --users == 0) vl_dec_unregister_all();
}

int vl_dec_register(const char* name, const VlDecTypeDescriptor* descriptor) {
  if (registry.add(name, descriptor)) return 0;
  VL_LOG(category(), VL_LOG_FATAL, "Allocating list memory for decoder %s failed.", name ? name : "");
  return -1;
}

void vl_dec_unregister_all() { registry.clear(); }

vl_dec_make_fn vl_dec_find(const char* encoding) {
  vl_dec_make_fn make = registry.find(encoding);
  if (!make) VL_LOG(category(), VL_LOG_ERROR, "Invalid decoder: %s", encoding ? encoding : "(null)");
  return make;
}

int vl_dec_foreach_mime(void* arg, vl_codec_mime_fn fn) { return fn ? registry.foreach_mime(arg, fn) : 0; }
