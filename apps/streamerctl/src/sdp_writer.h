// AES67-style SDP records for a sender, written from a few options, so that
// nobody has to write one by hand. Both attribute dialects the daemon reads
// are written: "clock-domain", "sync-time" and "framecount", and the AES67
// "ts-refclk", "mediaclk" and "ptime".
#pragma once

#include <cstdint>
#include <string>

// The shortest packet the daemon sends: 6 frames, 125 us at 48 kHz.
constexpr uint32_t sdp_min_frames = 6;

struct SdpOptions {
  std::string source;       // the sender's own unicast address
  std::string destination;  // multicast group or unicast receiver
  uint16_t port = 5004;
  uint32_t channels = 2;
  std::string encoding = "L24";  // L16, L24, L32 or AM824
  uint32_t rate = 48000;
  uint32_t frames = 48;  // per packet
  uint32_t sync_time = 0;
  uint32_t clock_domain = 0;
  std::string name;  // session name; empty: "<destination>:<port>"
  uint32_t ttl = 32;
  uint32_t payload_type = 98;
  std::string grandmaster;  // PTP grandmaster identity; empty: "traceable"
  uint64_t session_id = 0;
};

// Why the options cannot make a record, or empty when they can.
std::string sdp_check(const SdpOptions& options);
// The record; lines end in "\n".
std::string sdp_write(const SdpOptions& options);

// Frames per packet for a packet time in milliseconds (0 when not whole).
uint32_t sdp_frames_for_ptime(double ptime_ms, uint32_t rate);
// Frames per packet an SDP record asks for: its "framecount", else its
// "ptime" at the rtpmap's rate; 0 when it says neither.
uint32_t sdp_frame_count(const std::string& sdp);
