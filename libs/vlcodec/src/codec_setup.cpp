#include "codec_setup.h"

#include "vl/vl_channel_map.h"
#include "vlcodec/codec.h"
#include "vlutil/vl_sdp.h"

bool read_codec_sdp(const char* sdp, char* stream_name, std::size_t name_size, CodecSdp* out) {
  char encoding[vl_sdp_encoding_max + 1] = {};
  if (vl_sdp_encoding(sdp, encoding, sizeof encoding) != 0) return false;
  const int payload = vl_sdp_rtp_payload(sdp);
  if (payload < 0) return false;
  vl_codec_mime_decode(static_cast<uint8_t>(payload), encoding, &out->timescale, &out->channels);
  // One byte stays for the terminator: the reader fills the field whole.
  out->has_stream_name = vl_sdp_stream_name(sdp, stream_name, name_size - 1) == 0;
  return true;
}

VlChannelMap* unconnected_map(uint32_t channels) { return vl_channel_map_ctor(nullptr, channels); }
