// The L16 payload format, encoder side.
#pragma once

#include "vlcodec/vl_enc.h"

extern const VlEncTypeDescriptor vl_enc_l16_ts;

// A new L16 encoder reading from `capture` for the stream of the SDP, or
// null (errno EINVAL).
VlEnc* vl_enc_l16_ctor(VlCaptureIfc* capture, const VlSdpStream& sdp);
