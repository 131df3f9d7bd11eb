// Construction steps every codec takes from the stream's SDP.
#pragma once

#include "vlsys/vl_log.h"
#include "vlutil/vl_rational.h"
#include "vlutil/vl_sdp_stream.h"

#include <cstdint>

struct CodecSdp {
  vl_rational timescale;
  uint32_t channels;
};

// Timescale and channel count from the encoding and payload type. False
// when the SDP has neither.
bool read_codec_sdp(const VlSdpStream& sdp, CodecSdp* out);

// True when the SDP's rate is the audio device's; otherwise says so, naming
// both: a stream timed by one clock but announced at another plays at the
// wrong speed everywhere.
bool codec_rate_matches(log4c_category_t* category, const VlSdpStream& sdp, vl_rational sdp_rate,
                        vl_rational device_rate);

// All -1 map of `channels` entries; null when it cannot be made.
class VlChannelMap;
VlChannelMap* unconnected_map(uint32_t channels);
