// The AM824 payload format, decoder side.
#pragma once

#include "vlcodec/vl_dec.h"

extern const VlDecTypeDescriptor vl_dec_am824_ts;

// A new AM824 decoder writing to `play` for the stream of the SDP, or null
// (errno EINVAL).
VlDec* vl_dec_am824_ctor(VlPlayIfc* play, const VlSdpStream& sdp);

// The factory when `encoding` begins with "AM824", else null.
vl_dec_make_fn vl_dec_am824_match(const char* encoding);
