#include "codec_setup.h"

#include "vl/vl_channel_map.h"
#include "vlcodec/codec.h"

bool read_codec_sdp(const VlSdpStream& sdp, CodecSdp* out) {
  if (sdp.encoding[0] == '\0' || sdp.payload_type < 0) return false;
  vl_codec_mime_decode(static_cast<uint8_t>(sdp.payload_type), sdp.encoding, &out->timescale, &out->channels);
  return true;
}

bool codec_rate_matches(log4c_category_t* category, const VlSdpStream& sdp, vl_rational sdp_rate,
                        vl_rational device_rate) {
  if (int64_t{sdp_rate.nom} * device_rate.den == int64_t{device_rate.nom} * sdp_rate.den) return true;
  VL_LOG(category, VL_LOG_ERROR, "Stream %s: the SDP's rate %d/%d differs from the audio device's rate %d/%d!",
         sdp.name, sdp_rate.nom, sdp_rate.den, device_rate.nom, device_rate.den);
  return false;
}

VlChannelMap* unconnected_map(uint32_t channels) { return vl_channel_map_ctor(nullptr, channels); }
