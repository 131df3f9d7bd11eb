#include "views.h"

#include "table.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

namespace {

std::string text(const json_t* json, const char* key) {
  const char* value = json_string_value(json_object_get(json, key));
  return value ? value : "";
}

json_int_t integer(const json_t* json, const char* key) { return json_integer_value(json_object_get(json, key)); }

std::string number(const json_t* json, const char* key) { return std::to_string(integer(json, key)); }

// Addresses travel as the 32-bit word of their network-order bytes.
std::string ipv4(json_int_t word) {
  in_addr address{static_cast<in_addr_t>(word)};
  char buffer[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address, buffer, sizeof buffer);
  return buffer;
}

std::string mac(const json_t* bytes) {
  std::string out;
  std::size_t index = 0;
  const json_t* byte = nullptr;
  json_array_foreach(bytes, index, byte) {
    char part[4];
    std::snprintf(part, sizeof part, "%02x", static_cast<unsigned>(json_integer_value(byte) & 0xff));
    out += (index ? ":" : "") + std::string(part);
  }
  return out;
}

std::string interface_type(json_int_t type) {
  switch (type) {
    case 0: return "none";
    case 1: return "software";
    case 2: return "hardware";
    default: return std::to_string(type);
  }
}

std::string port_state(json_int_t state) {
  static const char* const names[] = {"none",    "initializing", "faulty",  "disabled",     "listening",
                                      "pre-master", "master",    "passive", "uncalibrated", "slave"};
  if (state >= 0 && state < static_cast<json_int_t>(std::size(names))) return names[state];
  return std::to_string(state);
}

std::string delay_mechanism(json_int_t mechanism) {
  if (mechanism == 1) return "E2E";
  if (mechanism == 2) return "P2P";
  return std::to_string(mechanism);
}

std::string compact(const json_t* json) {
  char* dumped = json_dumps(json, JSON_COMPACT | JSON_PRESERVE_ORDER | JSON_ENCODE_ANY);
  std::string out = dumped ? dumped : "";
  std::free(dumped);
  return out;
}

bool reserved(const json_t* audio_device) { return json_object_size(json_object_get(audio_device, "audio_config")) > 0; }

// "GeneratorRamp L24/48000/8" for a stream; "-" for none.
std::string stream_summary(const json_t* stream) {
  if (json_object_size(stream) == 0) return "-";
  const std::string sdp = text(stream, "stream_sdp");
  std::string encoding;
  const std::size_t at = sdp.find("a=rtpmap:");
  if (at != std::string::npos) {
    const std::size_t start = sdp.find(' ', at);
    const std::size_t end = sdp.find_first_of("\r\n", start);
    if (start != std::string::npos) encoding = " " + sdp.substr(start + 1, end - start - 1);
  }
  return text(stream, "audio_device_name") + encoding;
}

std::string section(const char* title, const std::string& body) { return std::string(title) + ":\n" + body; }

const std::pair<int, const char*> priorities[] = {{0, "fatal"},  {100, "alert"}, {200, "crit"},
                                                  {300, "error"}, {400, "warn"},  {500, "notice"},
                                                  {600, "info"},  {700, "debug"}, {800, "trace"},
                                                  {900, "notset"}};

}  // namespace

std::string view_interfaces(const json_t* interfaces) {
  Table table({"NAME", "ADDRESS", "NETMASK", "MAC", "TYPE"});
  std::size_t index = 0;
  const json_t* node = nullptr;
  json_array_foreach(interfaces, index, node) {
    table.add({text(node, "network_interface_name"), ipv4(integer(node, "network_interface_addr")),
               ipv4(integer(node, "network_interface_mask")), mac(json_object_get(node, "network_interface_mac")),
               interface_type(integer(node, "network_interface_type"))});
  }
  return table.render();
}

std::string view_ptp(const json_t* s) {
  const json_int_t offset = integer(s, "ptp_offset_nsec");
  const std::string sign = integer(s, "ptp_offset_sign") ? "-" : "";
  Table table({"PTP", "VALUE"});
  table.add({"domain", number(s, "ptp_domain")});
  table.add({"port state", port_state(integer(s, "ptp_port_state"))});
  table.add({"synchronized", integer(s, "ptp_is_syncronized") ? "yes" : "no"});
  table.add({"slave only", integer(s, "ptp_slave_only") ? "yes" : "no"});
  table.add({"grandmaster", text(s, "ptp_gm_id")});
  table.add({"grandmaster class", number(s, "ptp_gm_clock_class")});
  table.add({"grandmaster accuracy", number(s, "ptp_gm_clock_accuracy")});
  table.add({"master address", text(s, "ptp_master_ip")});
  table.add({"offset", (offset ? sign : "") + std::to_string(offset) + " ns"});
  table.add({"delay mechanism", delay_mechanism(integer(s, "ptp_delay_mechanism"))});
  table.add({"priority 1", number(s, "ptp_prio_1")});
  table.add({"priority 2", number(s, "ptp_prio_2")});
  table.add({"announce interval (log2 s)", number(s, "ptp_log_announce")});
  table.add({"sync interval (log2 s)", number(s, "ptp_log_sync")});
  table.add({"DSCP", number(s, "ptp_dscp")});
  return table.render();
}

std::string view_audio_devices(const json_t* audio_devices) {
  Table table({"NAME", "CAPTURE", "PLAYBACK", "RESERVED", "CONFIGURATION"});
  std::size_t index = 0;
  const json_t* device = nullptr;
  json_array_foreach(audio_devices, index, device) {
    const json_t* properties = json_object_get(device, "audio_properties");
    const bool in_use = reserved(device);
    table.add({text(device, "audio_device_name"), number(properties, "channelCountCapture"),
               number(properties, "channelCountPlay"), in_use ? "yes" : "no",
               in_use ? compact(json_object_get(device, "audio_config")) : ""});
  }
  return table.render();
}

std::string view_sessions(const json_t* sessions) {
  Table table({"ADDRESS", "PORT", "INTERFACE", "SENDER", "RECEIVER"});
  std::size_t index = 0;
  const json_t* session = nullptr;
  json_array_foreach(sessions, index, session) {
    const json_t* id = json_object_get(session, "session_id");
    table.add({text(id, "session_addr"), number(id, "session_port"), text(session, "network_interface_name"),
               stream_summary(json_object_get(session, "session_sender")),
               stream_summary(json_object_get(session, "session_receiver"))});
  }
  return table.render();
}

std::string view_status(const json_t* device) {
  const json_t* id = json_object_get(device, "device_id");
  const json_t* version = json_object_get(device, "vl_version");
  std::string out = "Device: " + text(id, "vendor_id") + " " + text(id, "device") + ", serial " +
                    text(id, "serial_number") + ", version " + number(version, "vl_version_major") + "." +
                    number(version, "vl_version_minor") + "-" + text(version, "vl_version_build") + "\n\n";
  out += section("Interfaces", view_interfaces(json_object_get(device, "network_interface"))) + "\n";
  out += view_ptp(json_object_get(device, "ptp_status")) + "\n";
  out += section("Audio devices", view_audio_devices(json_object_get(device, "audio_device_list"))) + "\n";
  out += section("Sessions", view_sessions(json_object_get(device, "session_list")));
  return out;
}

std::string view_channel_names(const json_t* audio_device) {
  Table table({"DIRECTION", "CHANNEL", "NAME"});
  for (const auto& [key, direction] : {std::pair{"audio_captid", "capture"}, std::pair{"audio_playid", "playback"}}) {
    std::size_t index = 0;
    const json_t* name = nullptr;
    json_array_foreach(json_object_get(audio_device, key), index, name) {
      const char* value = json_string_value(name);
      table.add({direction, std::to_string(index), value ? value : compact(name)});
    }
  }
  return table.render();
}

std::string view_audio_configs(const json_t* audio_devices) {
  Table table({"NAME", "CONFIGURATION"});
  std::size_t index = 0;
  const json_t* device = nullptr;
  json_array_foreach(audio_devices, index, device) {
    if (reserved(device)) table.add({text(device, "audio_device_name"), compact(json_object_get(device, "audio_config"))});
  }
  return table.render();
}

std::string view_log_categories(const json_t* categories) {
  Table table({"CATEGORY", "PRIORITY"});
  const char* name = nullptr;
  const json_t* priority = nullptr;
  json_object_foreach(const_cast<json_t*>(categories), name, priority) {
    table.add({name, log_priority_name(json_integer_value(priority))});
  }
  return table.render();
}

namespace {

// The cumulative count is a signed 24-bit number in the low bits (a peer
// that received duplicates reports fewer than none lost); the fraction
// lost is the top 8.
json_int_t cumulative_lost(const json_t* report) {
  const json_int_t lost = integer(report, "rtcp_lost") & 0xffffff;
  return lost & 0x800000 ? lost - 0x1000000 : lost;
}

// Who reported: the reporter's SSRC where the daemon gives it, else the
// source reported on.
json_int_t peer_ssrc(const json_t* report) {
  const json_t* reporter = json_object_get(report, "rtcp_reporter_ssrc");
  return json_integer_value(reporter) != 0 ? json_integer_value(reporter) : integer(report, "rtcp_ssrc");
}

}  // namespace

std::string view_statistics(const json_t* info_list) {
  Table table({"SESSION", "STREAM", "PACKETS", "OCTETS", "LOST", "JITTER", "PEER"});
  std::size_t index = 0;
  const json_t* info = nullptr;
  json_array_foreach(info_list, index, info) {
    const json_t* id = json_object_get(info, "session_id");
    const std::string session = text(id, "session_addr") + ":" + number(id, "session_port");
    for (const auto& [key, kind] :
         {std::pair{"session_sender_info", "sender"}, std::pair{"session_receiver_info", "receiver"}}) {
      const json_t* stream = json_object_get(info, key);
      if (json_object_size(stream) == 0) continue;
      const json_t* sent = json_object_get(stream, "rtcp_sender_info");
      const json_t* reports = json_object_get(stream, "rtcp_receiver_info");
      const std::string packets = number(sent, "rtcp_psend");
      const std::string octets = number(sent, "rtcp_osend");
      if (json_array_size(reports) == 0) table.add({session, kind, packets, octets, "-", "-", "-"});
      std::size_t n = 0;
      const json_t* report = nullptr;
      json_array_foreach(reports, n, report) {
        char peer[160];
        std::snprintf(peer, sizeof peer, "%s (ssrc %08llx)", text(report, "rtcp_cname").c_str(),
                      static_cast<unsigned long long>(peer_ssrc(report)));
        table.add({session, kind, packets, octets, std::to_string(cumulative_lost(report)),
                   number(report, "rtcp_jitter"), peer});
      }
    }
  }
  return table.render();
}

std::string view_discovered(const json_t* sap_list) {
  Table table({"NAME", "GROUP", "PORT", "ENCODING", "PTIME", "CLOCK", "ORIGIN", "INTERFACE"});
  std::size_t index = 0;
  const json_t* entry = nullptr;
  json_array_foreach(sap_list, index, entry) {
    char ptime[32];
    std::snprintf(ptime, sizeof ptime, "%g", json_number_value(json_object_get(entry, "sap_ptime")));
    table.add({text(entry, "sap_session_name"), text(entry, "sap_group"), number(entry, "sap_port"),
               text(entry, "sap_encoding"), ptime, text(entry, "sap_clock_reference"), text(entry, "sap_origin"),
               text(entry, "sap_interface")});
  }
  return table.render();
}

namespace {

// "snd 1000 pkts lost 0 jitter 2 peers 1": a sender counts what it sent and
// hears its receivers; a receiver counts what its sender reported sending
// and what it found itself.
std::string stream_summary_line(const char* kind, const json_t* stream) {
  const json_t* reports = json_object_get(stream, "rtcp_receiver_info");
  json_int_t lost = 0;
  json_int_t jitter = 0;
  std::size_t peers = 0;
  std::size_t index = 0;
  const json_t* report = nullptr;
  json_array_foreach(reports, index, report) {
    if (integer(report, "rtcp_ssrc") == 0) continue;
    ++peers;
    lost += cumulative_lost(report);
    jitter = std::max(jitter, integer(report, "rtcp_jitter"));
  }
  return std::string(kind) + " " + number(json_object_get(stream, "rtcp_sender_info"), "rtcp_psend") + " pkts lost " +
         std::to_string(lost) + " jitter " + std::to_string(jitter) + " peers " + std::to_string(peers);
}

}  // namespace

std::string view_summary(const json_t* info_list, const json_t* audio_devices) {
  std::string line;
  const auto add = [&line](const std::string& part) { line += (line.empty() ? "" : ", ") + part; };
  std::size_t index = 0;
  const json_t* info = nullptr;
  json_array_foreach(info_list, index, info) {
    for (const auto& [key, kind] :
         {std::pair{"session_sender_info", "snd"}, std::pair{"session_receiver_info", "rcv"}}) {
      const json_t* stream = json_object_get(info, key);
      if (json_object_size(stream) > 0) add(stream_summary_line(kind, stream));
    }
  }
  const json_t* device = nullptr;
  json_array_foreach(audio_devices, index, device) {
    const json_t* attributes = json_object_get(device, "audio_attributes");
    if (json_array_size(attributes) < 3) continue;
    const auto attribute = [&](std::size_t i) {
      return std::to_string(json_integer_value(json_array_get(attributes, i)));
    };
    add(text(device, "audio_device_name") + " mismatches " + attribute(1) + " offset " + attribute(2) + " last good " +
        attribute(0));
  }
  return (line.empty() ? "no streams" : line) + "\n";
}

int log_priority_from_text(const std::string& value) {
  for (const auto& [priority, name] : priorities)
    if (value == name) return priority;
  char* end = nullptr;
  const long parsed = std::strtol(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0' || parsed < 0 || parsed > 1000) return -1;
  return static_cast<int>(parsed);
}

std::string log_priority_name(json_int_t priority) {
  for (const auto& [number_value, name] : priorities)
    if (priority == number_value) return name;
  return std::to_string(priority);
}
