#include "vlcodec/enc_l16.h"

#include "pcm_codec.h"

using VlEncL16 = pcm::Encoder<L16Wire, vl_enc_l16_ts>;

VlEnc* vl_enc_l16_ctor(VlCaptureIfc* capture, const VlSdpStream& sdp) {
  return pcm::make_encoder<VlEncL16>(capture, sdp, "vl_enc_l16_ctor");
}

const VlEncTypeDescriptor vl_enc_l16_ts = {{&vl_enc_ts, "VlEncL16", nullptr}, "L16", vl_enc_l16_ctor};
