// The L16 payload format, decoder side.
#pragma once

#include "vlcodec/vl_dec.h"

extern const VlDecTypeDescriptor vl_dec_l16_ts;

// A new L16 decoder writing to `play` for the stream of the SDP, or null
// (errno EINVAL).
VlDec* vl_dec_l16_ctor(VlPlayIfc* play, const VlSdpStream& sdp);

// The factory when `encoding` begins with "L16", else null.
vl_dec_make_fn vl_dec_l16_match(const char* encoding);
