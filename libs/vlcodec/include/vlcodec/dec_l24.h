// The L24 payload format, decoder side.
#pragma once

#include "vlcodec/vl_dec.h"

extern const VlDecTypeDescriptor vl_dec_l24_ts;

// A new L24 decoder writing to `play` for the stream of the SDP, or null
// (errno EINVAL).
VlDec* vl_dec_l24_ctor(VlPlayIfc* play, const VlSdpStream& sdp);

// The factory when `encoding` begins with "L24", else null.
vl_dec_make_fn vl_dec_l24_match(const char* encoding);
