#include "vlcodec/enc_am824.h"

#include "pcm_codec.h"

using VlEncAm824 = pcm::Encoder<Am824Wire, vl_enc_am824_ts>;

VlEnc* vl_enc_am824_ctor(VlCaptureIfc* capture, const VlSdpStream& sdp) {
  return pcm::make_encoder<VlEncAm824>(capture, sdp, "vl_enc_am824_ctor");
}

const VlEncTypeDescriptor vl_enc_am824_ts = {{&vl_enc_ts, "VlEncAm824", nullptr}, "AM824", vl_enc_am824_ctor};
