#include "vlcodec/dec_l24.h"

#include "pcm_codec.h"

using VlDecL24 = pcm::Decoder<L24Wire, vl_dec_l24_ts>;

VlDec* vl_dec_l24_ctor(VlPlayIfc* play, const VlSdpStream& sdp) { return pcm::make_decoder<VlDecL24>(play, sdp); }

vl_dec_make_fn vl_dec_l24_match(const char* encoding) { return pcm::match<vl_dec_l24_ts>(encoding); }

const VlDecTypeDescriptor vl_dec_l24_ts = {{&vl_dec_ts, "VlDecL24", nullptr}, "L24", vl_dec_l24_ctor};
