// The AM824 payload format, encoder side.
#pragma once

#include "vlcodec/vl_enc.h"

extern const VlEncTypeDescriptor vl_enc_am824_ts;

// A new AM824 encoder reading from `capture` for the stream of the SDP, or
// null (errno EINVAL).
VlEnc* vl_enc_am824_ctor(VlCaptureIfc* capture, const VlSdpStream& sdp);
