// What a stream takes from its SDP record, read once when the stream is
// added, so that the sender, the receiver and the codecs agree on one reading
// and a peer's way of writing a field is handled in one place.
#pragma once

#include "vlutil/vl_sdp.h"

#include <cstddef>
#include <cstdint>

// A stream name and its terminator.
inline constexpr std::size_t vl_sdp_stream_name_size = 128;

struct VlSdpStream {
  char name[vl_sdp_stream_name_size];  // "s=", empty when missing or too long
  bool has_name;
  char dst_addr[vl_sdp_addr_size];  // "c=" of the media
  int ttl;                          // -1 when there is no usable "c=" line
  int dst_port;                     // 0 without an "m=audio" line
  int payload_type;                 // -1 without an "rtpmap"
  char encoding[vl_sdp_encoding_max];  // "L24/48000/8", empty without an "rtpmap"
  char clock_domain[vl_sdp_clock_domain_max];  // "PTPv2 0", empty when absent
  bool has_sync_time;
  uint32_t sync_time;  // 0 when absent
  int frame_count;     // -1 when neither "framecount" nor "ptime" gives one
};

// Fills every field; a null record reads as one without any of them.
void vl_sdp_stream_read(const char* sdp, VlSdpStream* out);
