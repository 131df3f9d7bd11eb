// One stream that a SAP announcement offers, as the directory lists it: who
// announced it, where it was heard, the few SDP values a controller shows,
// and the SDP text itself for a receiver to be made from.
//
// JSON form (vl_sap_entry_encode), one object per entry:
//   "sap_origin"          string   originating source of the SAP header
//   "sap_msg_id_hash"     integer  message id hash (0 to 65535)
//   "sap_interface"       string   interface the announcement arrived on
//   "sap_announce_group"  string   SAP group it arrived on
//   "sap_sdp_origin"      string   unicast address of the SDP "o=" line
//   "sap_session_name"    string   "s=" line
//   "sap_group"           string   stream address ("c=" of the first media, else of the session)
//   "sap_port"            integer  port of the first "m=" line, 0 without one
//   "sap_encoding"        string   rtpmap encoding such as "L24/48000/8"
//   "sap_channels"        integer  from the encoding: 1 when it names none, 0 without one
//   "sap_ptime"           real     "ptime" in milliseconds, 0 when absent
//   "sap_clock_reference" string   "ts-refclk" value, else "clock-domain" value
//   "sap_last_seen"       integer  wall-clock time of the last announcement, ns since the epoch
//   "sap_sdp"             string   the SDP record as announced
// Strings are empty when the SDP does not give the value.
#pragma once

#include <jansson.h>

#include <cstdint>
#include <string>
#include <vector>

// The values read from an announced SDP record.
struct VlSapSdpFields {
  std::string sdp_origin;
  std::string session_name;
  std::string group;
  int port = 0;
  std::string encoding;
  int channels = 0;
  double ptime = 0.0;
  std::string clock_reference;
};

struct VlSapEntry {
  std::string sap_origin;
  uint16_t msg_id_hash = 0;
  std::string interface;
  std::string announce_group;
  VlSapSdpFields fields;
  uint64_t last_seen_ns = 0;
  std::string sdp;
};

// Reads the fields from a NUL-terminated SDP record; never reads past a line.
VlSapSdpFields vl_sap_sdp_fields(const char* sdp);

// A new JSON object or array as above; null on failure (allocation, or text
// that is not UTF-8).
json_t* vl_sap_entry_encode(const VlSapEntry& entry);
json_t* vl_sap_entry_list_encode(const std::vector<VlSapEntry>& entries);
