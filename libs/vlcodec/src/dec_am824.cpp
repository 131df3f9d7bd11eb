#include "vlcodec/dec_am824.h"

#include "pcm_codec.h"

using VlDecAm824 = pcm::Decoder<Am824Wire, vl_dec_am824_ts>;

VlDec* vl_dec_am824_ctor(VlPlayIfc* play, const VlSdpStream& sdp) { return pcm::make_decoder<VlDecAm824>(play, sdp); }

vl_dec_make_fn vl_dec_am824_match(const char* encoding) { return pcm::match<vl_dec_am824_ts>(encoding); }

const VlDecTypeDescriptor vl_dec_am824_ts = {{&vl_dec_ts, "VlDecAm824", nullptr}, "AM824", vl_dec_am824_ctor};
