#include "vlutil/vl_sdp_stream.h"

void vl_sdp_stream_read(const char* sdp, VlSdpStream* out) {
  *out = VlSdpStream{};
  // One byte stays for the terminator: the reader fills the field whole.
  out->has_name = vl_sdp_stream_name(sdp, out->name, sizeof out->name - 1) == 0;
  if (!out->has_name) out->name[0] = '\0';
  out->ttl = vl_sdp_dst_addr(sdp, out->dst_addr);
  out->dst_port = vl_sdp_dst_port(sdp);
  out->payload_type = vl_sdp_rtp_payload(sdp);
  vl_sdp_encoding(sdp, out->encoding, sizeof out->encoding);
  vl_sdp_clock_domain(sdp, out->clock_domain, sizeof out->clock_domain);
  out->has_sync_time = vl_sdp_sync_time(sdp, &out->sync_time) == 0;
  if (!out->has_sync_time) out->sync_time = 0;
  out->frame_count = vl_sdp_frame_count(sdp);
}
