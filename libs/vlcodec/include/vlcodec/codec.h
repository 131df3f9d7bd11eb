// What encoders and decoders share: the SDP encoding parser.
#pragma once

#include "vlutil/vl_rational.h"

#include <cstdint>

// Parses an rtpmap encoding such as "L24/48000/8" for the payload type:
// the timescale (rate/1) and channel count (0 when omitted). Returns the
// length of the format name for dynamic types, 0 for the static types 10 and
// 11, -1 otherwise (errno EINVAL for types of 128 and above).
int vl_codec_mime_decode(uint8_t payload_type, const char* encoding, vl_rational* timescale, uint32_t* channels);
