#include "sap/sap_entry.h"

#include "vlutil/vl_json_ref.h"
#include "vlutil/vl_sdp.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

namespace {

// The text from `value` to the end of its line, without the line end.
std::string_view rest_of_line(const char* value) {
  if (!value) return {};
  std::size_t n = 0;
  while (value[n] != '\0' && value[n] != '\n') ++n;
  if (n > 0 && value[n - 1] == '\r') --n;
  return {value, n};
}

// The value of a "x=" line.
std::string_view line_value(const char* line) { return line ? rest_of_line(line + 2) : std::string_view{}; }

// The index-th (from 0) blank-separated word.
std::string_view word(std::string_view text, int index) {
  std::size_t pos = 0;
  for (int i = 0;; ++i) {
    pos = text.find_first_not_of(" \t", pos);
    if (pos == std::string_view::npos) return {};
    const std::size_t end = std::min(text.find_first_of(" \t", pos), text.size());
    if (i == index) return text.substr(pos, end - pos);
    pos = end;
  }
}

// The index-th (from 0) "/"-separated field.
std::string_view field(std::string_view text, int index) {
  for (int i = 0; i < index; ++i) {
    const std::size_t slash = text.find('/');
    if (slash == std::string_view::npos) return {};
    text.remove_prefix(slash + 1);
  }
  return text.substr(0, text.find('/'));
}

int integer(std::string_view text, int fallback) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc{} && end == text.data() + text.size() ? value : fallback;
}

double milliseconds(std::string_view text) {
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || !std::isfinite(value) || value <= 0.0) return 0.0;
  return value;
}

const char* media_then_session_line(const char* sdp, char type) {
  const char* line = vl_sdp_find_line(sdp, type, 1, 1);
  return line ? line : vl_sdp_find_line(sdp, type, 0, 1);
}

const char* media_then_session_attr(const char* sdp, const char* name) {
  const char* value = vl_sdp_lookup_attr(sdp, 1, name);
  return value ? value : vl_sdp_lookup_attr(sdp, 0, name);
}

int channels_of(std::string_view encoding) {
  if (encoding.empty()) return 0;
  const std::string_view count = field(encoding, 2);
  if (count.empty()) return 1;
  const int channels = integer(count, 0);
  return channels > 0 ? channels : 0;
}

std::string clock_reference(const char* sdp) {
  const char* value = media_then_session_attr(sdp, "ts-refclk");
  if (!value) value = media_then_session_attr(sdp, "clock-domain");
  return std::string(rest_of_line(value));
}

// jansson refuses text that is not UTF-8; the object is then incomplete.
bool set_string(json_t* object, const char* key, const std::string& text) {
  return json_object_set_new(object, key, json_stringn(text.data(), text.size())) == 0;
}

bool set_integer(json_t* object, const char* key, json_int_t value) {
  return json_object_set_new(object, key, json_integer(value)) == 0;
}

}  // namespace

VlSapSdpFields vl_sap_sdp_fields(const char* sdp) {
  VlSapSdpFields f;
  f.sdp_origin = word(line_value(vl_sdp_find_line(sdp, 'o', 0, 1)), 5);
  f.session_name = line_value(vl_sdp_find_line(sdp, 's', 0, 1));
  f.group = field(word(line_value(media_then_session_line(sdp, 'c')), 2), 0);
  const int port = integer(field(word(line_value(vl_sdp_find_line(sdp, 'm', 1, 1)), 1), 0), 0);
  f.port = port > 0 && port <= 65535 ? port : 0;
  f.encoding = word(rest_of_line(vl_sdp_lookup_attr(sdp, 1, "rtpmap")), 1);
  f.channels = channels_of(f.encoding);
  f.ptime = milliseconds(word(rest_of_line(media_then_session_attr(sdp, "ptime")), 0));
  f.clock_reference = clock_reference(sdp);
  return f;
}

json_t* vl_sap_entry_encode(const VlSapEntry& e) {
  VlJsonRef object(json_object());
  json_t* o = object.get();
  if (!o) return nullptr;
  const VlSapSdpFields& f = e.fields;
  const bool complete =
      set_string(o, "sap_origin", e.sap_origin) && set_integer(o, "sap_msg_id_hash", e.msg_id_hash) &&
      set_string(o, "sap_interface", e.interface) && set_string(o, "sap_announce_group", e.announce_group) &&
      set_string(o, "sap_sdp_origin", f.sdp_origin) && set_string(o, "sap_session_name", f.session_name) &&
      set_string(o, "sap_group", f.group) && set_integer(o, "sap_port", f.port) &&
      set_string(o, "sap_encoding", f.encoding) && set_integer(o, "sap_channels", f.channels) &&
      json_object_set_new(o, "sap_ptime", json_real(f.ptime)) == 0 &&
      set_string(o, "sap_clock_reference", f.clock_reference) &&
      set_integer(o, "sap_last_seen", static_cast<json_int_t>(e.last_seen_ns)) && set_string(o, "sap_sdp", e.sdp);
  return complete ? object.release() : nullptr;
}

json_t* vl_sap_entry_list_encode(const std::vector<VlSapEntry>& entries) {
  VlJsonRef list(json_array());
  if (!list) return nullptr;
  for (const VlSapEntry& entry : entries)
    if (json_array_append_new(list.get(), vl_sap_entry_encode(entry)) != 0) return nullptr;
  return list.release();
}
