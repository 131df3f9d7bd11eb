#include "vlcodec/dec_raw.h"

#include "pcm_codec.h"

using VlDecRaw = pcm::Decoder<L32Wire, vl_dec_raw_ts>;

VlDec* vl_dec_raw_ctor(VlPlayIfc* play, const VlSdpStream& sdp) { return pcm::make_decoder<VlDecRaw>(play, sdp); }

vl_dec_make_fn vl_dec_raw_match(const char* encoding) { return pcm::match<vl_dec_raw_ts>(encoding); }

const VlDecTypeDescriptor vl_dec_raw_ts = {{&vl_dec_ts, "VlDecRaw", nullptr}, "L32", vl_dec_raw_ctor};
