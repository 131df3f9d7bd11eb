#include "vlcodec/enc_l24.h"

#include "pcm_codec.h"

using VlEncL24 = pcm::Encoder<L24Wire, vl_enc_l24_ts>;

VlEnc* vl_enc_l24_ctor(VlCaptureIfc* capture, const VlSdpStream& sdp) {
  return pcm::make_encoder<VlEncL24>(capture, sdp, "vl_enc_l24_ctor");
}

const VlEncTypeDescriptor vl_enc_l24_ts = {{&vl_enc_ts, "VlEncL24", nullptr}, "L24", vl_enc_l24_ctor};
