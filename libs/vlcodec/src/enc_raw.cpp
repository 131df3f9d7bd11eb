#include "vlcodec/enc_raw.h"

#include "pcm_codec.h"

using VlEncRaw = pcm::Encoder<L32Wire, vl_enc_raw_ts>;

VlEnc* vl_enc_raw_ctor(VlCaptureIfc* capture, const VlSdpStream& sdp) {
  return pcm::make_encoder<VlEncRaw>(capture, sdp, "vl_enc_raw_ctor");
}

const VlEncTypeDescriptor vl_enc_raw_ts = {{&vl_enc_ts, "VlEncRaw", nullptr}, "L32", vl_enc_raw_ctor};
