// A device description as the daemon's "init" returns it, for scripted
// daemons in client tests: interface veth0, the audio devices GeneratorRamp
// and AnalyzerRamp, and the session 239.1.1.1:5004 with a sender.
#pragma once

#include <string>

namespace vltest {

// Two channels of L24 to 239.1.1.1:5004, as JSON string text.
inline const std::string lab_sdp =
    "v=0\\no=- 1 1 IN IP4 198.18.0.1\\ns=Lab\\nt=0 0\\nm=audio 5004 RTP/AVP 98\\n"
    "c=IN IP4 239.1.1.1/32\\na=rtpmap:98 L24/48000/2\\na=framecount:48\\n";

inline const std::string lab_sender = R"({"stream_sdp": ")" + lab_sdp + R"(", "audio_device_name": "GeneratorRamp",
  "stream_channelmap": [0, -1], "stream_dscp": 34, "stream_packetduration": 48})";

inline std::string device_description(const std::string& ptp_status = R"({"ptp_domain": 0})") {
  return R"({"vl_version": {"vl_version_major": 1, "vl_version_minor": 3},
  "device_id": {"vendor_id": "V", "device": "D", "serial_number": "S", "device_type": 2, "device_variant": 0},
  "network_interface": [{"network_interface_name": "veth0", "network_interface_mac": [2, 0, 0, 0, 0, 1],
    "network_interface_addr": 16782022, "network_interface_mask": 16777215, "network_interface_type": 1}],
  "ptp_status": )" + ptp_status + R"(,
  "audio_device_list": [{"audio_device_name": "GeneratorRamp"}, {"audio_device_name": "AnalyzerRamp"}],
  "session_list": [{"session_id": {"session_addr": "239.1.1.1", "session_port": 5004},
    "network_interface_name": "veth0", "session_sender": )" +
         lab_sender + R"(, "session_receiver": {}}]})";
}

}  // namespace vltest
