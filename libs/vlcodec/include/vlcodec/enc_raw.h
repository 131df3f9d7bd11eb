// The L32 payload format, encoder side.
#pragma once

#include "vlcodec/vl_enc.h"

extern const VlEncTypeDescriptor vl_enc_raw_ts;

// A new L32 encoder reading from `capture` for the stream of the SDP, or
// null (errno EINVAL).
VlEnc* vl_enc_raw_ctor(VlCaptureIfc* capture, const VlSdpStream& sdp);
