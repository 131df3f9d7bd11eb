// Reads the few stream parameters the engine needs from an SDP record
// (RFC 4566 text): addresses, port, payload type, encoding, stream name, PTP
// clock domain, synchronisation time and frame count. Where both are present
// the "velanto" attributes win over the AES67 ones.
//
// There is no parsed form: every accessor scans the text anew. Accessors never
// modify the record, allocate nothing, read no further than the end of the
// line they look at (nor past the record's terminator) and never write past
// an output field: a value that does not fit its field is refused. Only the
// first media section is consulted for media-level values. A null record
// reads as a record without the line looked for. Messages go to the category
// "velanto"; failures set errno (EINVAL for bad or missing text, EFAULT for a
// missing output field).
#pragma once

#include <cstddef>
#include <cstdint>

// Size of an address field: a dotted IPv4 address and its terminator. Longer
// addresses are refused.
inline constexpr std::size_t vl_sdp_addr_size = 16;

// Buffer sizes that hold every encoding word (such as "L24/48000/8") and
// every clock domain text (such as "IEEE1588-2008 0") the system accepts.
inline constexpr std::size_t vl_sdp_encoding_max = 64;
inline constexpr std::size_t vl_sdp_clock_domain_max = 64;

// Longest clock name ("clock-domain") or PTP version and grandmaster
// identity ("ts-refclk") accepted.
inline constexpr std::size_t vl_sdp_clock_name_max = 31;

// Start of the occurrence-th (from 1) line "<type>=" of media section `media`
// (from 1; its "m=" line included) or of the session section (media 0). With
// occurrence 0 the start of the section itself. Null when there is none.
const char* vl_sdp_find_line(const char* sdp, char type, int media, int occurrence);

// Value of the first attribute line "a=<name>" of the section, or null. The
// value starts after the ":" or blank that follows the name; a flag attribute
// (name followed by the line end) has an empty value, which points at that
// line end.
const char* vl_sdp_lookup_attr(const char* sdp, int media, const char* name);

// Session-level "v=" number, or -1.
int vl_sdp_version(const char* sdp);

// Unicast address of the session-level "o=" line into `addr` (zeroed first).
// 0 with the address; 0 with an empty address when the line does not read;
// -1 when there is no "o=" line or its address is too long.
int vl_sdp_originator(const char* sdp, char addr[vl_sdp_addr_size]);

// Text of the session-level "s=" line up to the line end (a "\r" ends it too).
// Zeroes `size` bytes of `name`; when the name is longer than `size` returns
// its length and copies nothing, otherwise copies it and returns 0. The copy
// is terminated only when shorter than `size`: pass one byte less than the
// buffer to always get a terminated name. -1 without an "s=" line.
int vl_sdp_stream_name(const char* sdp, char* name, std::size_t size);

// Address of the first media-level "c=IN IP4 " line, or else of the
// session-level one (the default of every media), into `addr` (zeroed
// first). Returns the TTL (0 to 255; 1 when none is given), or -1.
int vl_sdp_dst_addr(const char* sdp, char addr[vl_sdp_addr_size]);

// Port of the first "m=audio" line (1 to 65535), or 0.
int vl_sdp_dst_port(const char* sdp);

// Source address of the first media-level "source-filter" attribute
// ("incl IN IP4 <destination> <source>") into `addr` (zeroed first). 0 or -1.
int vl_sdp_src_addr(const char* sdp, char addr[vl_sdp_addr_size]);

// Encoding word of the first media-level "rtpmap" attribute (such as
// "L24/48000/8") into `encoding` (`size` bytes, zeroed first; the word must
// be shorter than `size`). 0 or -1.
int vl_sdp_encoding(const char* sdp, char* encoding, std::size_t size);

// Payload type (0 to 127) of the first media-level "rtpmap" attribute, or -1.
int vl_sdp_rtp_payload(const char* sdp);

// Clock name and domain number as "%s %d" (such as "PTPv2 0" or
// "IEEE1588-2008 0") into `out` (`size` bytes, zeroed first), from
// "clock-domain" or else "ts-refclk" (media level, else session level).
// 0 or -1.
int vl_sdp_clock_domain(const char* sdp, char* out, std::size_t size);

// Media clock offset, an RTP timestamp value, from the media-level
// "sync-time" or else "mediaclk:direct=" (media level, else session level).
// 0 or -1.
int vl_sdp_sync_time(const char* sdp, uint32_t* out);

// Frames per packet from the media-level "framecount" (when 0 or more) or
// else the media-level "ptime" times the rtpmap's sample rate, rounded to the
// nearest frame. -1 when neither gives one.
int vl_sdp_frame_count(const char* sdp);
