// The L24 payload format, encoder side.
#pragma once

#include "vlcodec/vl_enc.h"

extern const VlEncTypeDescriptor vl_enc_l24_ts;

// A new L24 encoder reading from `capture` for the stream of the SDP, or
// null (errno EINVAL).
VlEnc* vl_enc_l24_ctor(VlCaptureIfc* capture, const VlSdpStream& sdp);
