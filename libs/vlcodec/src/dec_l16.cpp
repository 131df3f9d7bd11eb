#include "vlcodec/dec_l16.h"

#include "pcm_codec.h"

using VlDecL16 = pcm::Decoder<L16Wire, vl_dec_l16_ts>;

VlDec* vl_dec_l16_ctor(VlPlayIfc* play, const VlSdpStream& sdp) { return pcm::make_decoder<VlDecL16>(play, sdp); }

vl_dec_make_fn vl_dec_l16_match(const char* encoding) { return pcm::match<vl_dec_l16_ts>(encoding); }

const VlDecTypeDescriptor vl_dec_l16_ts = {{&vl_dec_ts, "VlDecL16", nullptr}, "L16", vl_dec_l16_ctor};
