#include "sdp_writer.h"

#include "vlutil/vl_sdp.h"

#include <arpa/inet.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

namespace {

const std::set<std::string> encodings = {"L16", "L24", "L32", "AM824"};

bool is_ipv4(const std::string& text) {
  in_addr address{};
  return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

bool is_multicast(const std::string& text) {
  in_addr address{};
  return inet_pton(AF_INET, text.c_str(), &address) == 1 && IN_MULTICAST(ntohl(address.s_addr));
}

// Milliseconds with at most three decimals, without trailing zeros.
std::string ptime_text(uint32_t frames, uint32_t rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", 1000.0 * frames / rate);
  std::string ptime = text;
  ptime.erase(ptime.find_last_not_of('0') + 1);
  if (ptime.back() == '.') ptime.pop_back();
  return ptime;
}

std::string connection(const SdpOptions& o) {
  return "c=IN IP4 " + o.destination + (is_multicast(o.destination) ? "/" + std::to_string(o.ttl) : "") + "\n";
}

std::string reference_clock(const SdpOptions& o) {
  const std::string clock = o.grandmaster.empty() ? "traceable" : o.grandmaster + ":" + std::to_string(o.clock_domain);
  return "a=ts-refclk:ptp=IEEE1588-2008:" + clock + "\n";
}

}  // namespace

std::string sdp_check(const SdpOptions& o) {
  if (!is_ipv4(o.source)) return "the source address '" + o.source + "' is no IPv4 address";
  if (!is_ipv4(o.destination)) return "the destination address '" + o.destination + "' is no IPv4 address";
  if (o.port == 0) return "the port must not be 0";
  if (o.channels == 0) return "a stream needs at least one channel";
  if (!encodings.contains(o.encoding)) return "the encoding must be one of L16, L24, L32 and AM824";
  if (o.rate == 0) return "the sample rate must not be 0";
  if (o.frames < sdp_min_frames) return "a packet needs at least " + std::to_string(sdp_min_frames) + " frames";
  if (o.payload_type < 96 || o.payload_type > 127) return "the payload type must be dynamic (96 to 127)";
  if (o.clock_domain > 127) return "the PTP domain must be 0 to 127";
  return "";
}

std::string sdp_write(const SdpOptions& o) {
  const std::string pt = std::to_string(o.payload_type);
  const std::string name = o.name.empty() ? o.destination + ":" + std::to_string(o.port) : o.name;
  std::string sdp = "v=0\n";
  sdp += "o=- " + std::to_string(o.session_id) + " 0 IN IP4 " + o.source + "\n";
  sdp += "s=" + name + "\n";
  sdp += "t=0 0\n";
  sdp += "a=clock-domain:PTPv2 " + std::to_string(o.clock_domain) + "\n";
  sdp += "a=mediaclk:direct=" + std::to_string(o.sync_time) + "\n";
  sdp += "m=audio " + std::to_string(o.port) + " RTP/AVP " + pt + "\n";
  sdp += connection(o);
  sdp += "a=rtpmap:" + pt + " " + o.encoding + "/" + std::to_string(o.rate) + "/" + std::to_string(o.channels) + "\n";
  if (is_multicast(o.destination)) sdp += "a=source-filter:incl IN IP4 " + o.destination + " " + o.source + "\n";
  sdp += "a=framecount:" + std::to_string(o.frames) + "\n";
  sdp += "a=ptime:" + ptime_text(o.frames, o.rate) + "\n";
  sdp += "a=sync-time:" + std::to_string(o.sync_time) + "\n";
  sdp += reference_clock(o);
  sdp += "a=recvonly\n";
  return sdp;
}

uint32_t sdp_frames_for_ptime(double ptime_ms, uint32_t rate) {
  const double frames = ptime_ms * rate / 1000.0;
  const double whole = std::round(frames);
  if (whole < 1 || std::fabs(frames - whole) > 1e-6) return 0;
  return static_cast<uint32_t>(whole);
}

uint32_t sdp_frame_count(const std::string& sdp) {
  if (const char* count = vl_sdp_lookup_attr(sdp.c_str(), 1, "framecount")) {
    const long frames = std::strtol(count, nullptr, 10);
    if (frames > 0) return static_cast<uint32_t>(frames);
  }
  const char* ptime = vl_sdp_lookup_attr(sdp.c_str(), 1, "ptime");
  char encoding[vl_sdp_encoding_max] = {};
  if (!ptime || vl_sdp_encoding(sdp.c_str(), encoding, sizeof encoding) != 0) return 0;
  const char* rate = std::strchr(encoding, '/');
  if (!rate) return 0;
  return sdp_frames_for_ptime(std::strtod(ptime, nullptr), static_cast<uint32_t>(std::strtoul(rate + 1, nullptr, 10)));
}
