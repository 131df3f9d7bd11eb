// Construction steps every codec takes from the stream's SDP.
#pragma once

#include "vlsys/vl_log.h"
#include "vlutil/vl_rational.h"

#include <cstddef>
#include <cstdint>

struct CodecSdp {
  vl_rational timescale;
  uint32_t channels;
  bool has_stream_name;
};

// Encoding, payload type, timescale, channel count and stream name. False
// when the encoding or payload type cannot be read.
bool read_codec_sdp(const char* sdp, char* stream_name, std::size_t name_size, CodecSdp* out);

// All -1 map of `channels` entries; null when it cannot be made.
class VlChannelMap;
VlChannelMap* unconnected_map(uint32_t channels);
