// SDP records and ring set-ups shared by the codec tests.
#pragma once

#include "vlutil/vl_sdp_stream.h"

#include <string>

namespace codec_test {

inline VlSdpStream parsed(const std::string& text) {
  VlSdpStream stream;
  vl_sdp_stream_read(text.c_str(), &stream);
  return stream;
}

// A one-stream SDP with `encoding` in its rtpmap for `payload_type`.
inline VlSdpStream sdp(const std::string& encoding, int payload_type = 98, const std::string& name = "Codec test") {
  return parsed("v=0\n"
                "o=- 1 1 IN IP4 10.0.0.1\n"
                "s=" + name + "\n"
                "t=0 0\n"
                "m=audio 5004 RTP/AVP " + std::to_string(payload_type) + "\n"
                "c=IN IP4 239.1.2.3/32\n"
                "a=rtpmap:" + std::to_string(payload_type) + " " + encoding + "\n");
}

}  // namespace codec_test
