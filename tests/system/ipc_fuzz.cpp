#include "ipc_fuzz.h"

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <memory>

namespace ipcfuzz {
namespace {

// The daemon's largest accepted body, and one byte more.
constexpr uint64_t max_length = 16u * 1024 * 1024;

const char* const sdp =
    "v=0\no=- 1 1 IN IP4 198.18.0.1\ns=Fuzz\nt=0 0\nm=audio 5004 RTP/AVP 98\n"
    "c=IN IP4 239.77.9.1/32\na=rtpmap:98 L24/48000/1\na=sync-time:0\n";

// A valid parameter of every command (0 and the numbers beyond 23 get one
// too: the server must refuse them whatever they carry).
VlJsonRef valid_parameter(json_int_t command) {
  const auto session_id = [] { return json_pack("{s:s, s:i}", "session_addr", "239.77.9.1", "session_port", 5004); };
  switch (command) {
    case 3: return VlJsonRef(json_pack("{s:s, s:{s:i}}", "vl_clt_config_file", "fuzz", "vl_clt_config", "a", 1));
    case 4:
    case 5: return VlJsonRef(json_pack("{s:s}", "vl_clt_config_file", "fuzz"));
    case 6:
      return VlJsonRef(json_pack("{s:s, s:i, s:s}", "session_addr", "239.77.9.1", "session_port", 5004,
                                 "network_interface_name", "veth0"));
    case 7: return VlJsonRef(json_pack("{s:o}", "session_id", session_id()));
    case 9:
      return VlJsonRef(json_pack("{s:o, s:s, s:s, s:i, s:i, s:i}", "session_id", session_id(), "audio_device_name",
                                 "GeneratorRamp", "stream_sdp", sdp, "stream_seqno", 0, "stream_dscp", 34,
                                 "stream_packetduration", 48));
    case 10:
      return VlJsonRef(json_pack("{s:o, s:s, s:s, s:i}", "session_id", session_id(), "audio_device_name",
                                 "AnalyzerRamp", "stream_sdp", sdp, "stream_end2enddelay", 96));
    case 11:
    case 12: return VlJsonRef(json_pack("{s:o, s:I}", "session_id", session_id(), "stream_type", command - 10));
    case 13:
      return VlJsonRef(json_pack("{s:o, s:i, s:[i], s:s}", "session_id", session_id(), "stream_type", 1,
                                 "stream_channelmap", 0, "audio_device_name", "GeneratorRamp"));
    case 14:
      return VlJsonRef(json_pack("{s:s, s:{s:i, s:i}}", "audio_device_name", "GeneratorRamp", "audio_config",
                                 "audioBlockSize", 256, "ptpDomain", 0));
    case 15:
      return VlJsonRef(json_pack("{s:s, s:[s], s:[]}", "audio_device_name", "GeneratorRamp", "audio_captid", "L",
                                 "audio_playid"));
    case 17: return VlJsonRef(json_pack("{s:s}", "audio_device_name", "GeneratorRamp"));
    case 18: return VlJsonRef(json_pack("{s:s, s:i}", "log_category", "velanto.fuzz", "log_priority", 700));
    case 20: return VlJsonRef(json_pack("{s:{s:i, s:i}}", "ptp_configuration", "ptp_domain", 0, "ptp_prio_1", 5));
    case 22:
      return VlJsonRef(
          json_pack("{s:i, s:s, s:i}", "event_id", 201, "event_originator", "fuzz", "event_exclusive", 0));
    case 23: return VlJsonRef(json_pack("{s:i, s:s}", "event_id", 201, "event_originator", "fuzz"));
    default: return VlJsonRef(json_object());
  }
}

// Names a mutation picks from: the known ones, and a bounded set of odd ones
// (the daemon makes a log category or an event handler thread for names it
// is given, and keeps them).
const char* const names[] = {"GeneratorSine", "GeneratorRamp", "AnalyzerFile", "AnalyzerRamp", "NoSuchDevice",
                             "veth0", "lo", "*", "velanto", "velanto.fuzz", "root", "", "239.77.9.2",
                             "300.1.1.1", "fuzz", "\xc3\xa4\xe2\x82\xac", "../../etc/passwd", "%s%n%s%n"};

const json_int_t integers[] = {0, 1, -1, 2, 6, 17, 19, 200, 201, 399, 400, 256, 257, 5004, 65535, 65536 + 700,
                               1000, 4294967297LL, std::numeric_limits<json_int_t>::max(),
                               std::numeric_limits<json_int_t>::min(), std::numeric_limits<int32_t>::min()};

const char* const keys[] = {"audio_device_name", "audio_config", "session_id", "session_port", "stream_type",
                            "stream_sdp", "event_id", "log_priority", "ptp_configuration", "ptpDomain",
                            "audioBlockSize", "sampleRate", "function", "filename", "unknown"};

std::string framed(const std::string& body, uint32_t type = 0, uint32_t version = 1) {
  return std::to_string(version) + "," + std::to_string(type) + "," + std::to_string(body.size() + 1) + ":" + body +
         std::string(1, '\0');
}

std::string dump(const json_t* json) {
  std::unique_ptr<char, decltype(&std::free)> text(json_dumps(json, JSON_ENCODE_ANY | JSON_PRESERVE_ORDER),
                                                   &std::free);
  return text ? text.get() : "null";
}

}  // namespace

std::vector<std::string> FrameFuzzer::episode() {
  std::vector<std::string> frames(1 + below(30));
  for (std::string& bytes : frames) bytes = frame();
  return frames;
}

std::string FrameFuzzer::frame() {
  switch (below(8)) {
    case 0: return random_bytes(200);
    case 1: return bad_header(request_text(static_cast<json_int_t>(below(26))));
    case 2: return bad_body(request_text(static_cast<json_int_t>(below(26))));
    default: {
      // Every command number in turn, and now and then one far out of range.
      const json_int_t command = one_in(20) ? integers[below(std::size(integers))] : next_command_++ % 25;
      return mutated_request(command);
    }
  }
}

std::string FrameFuzzer::mutated_request(json_int_t command) { return framed(request_text(command)); }

std::string FrameFuzzer::request_text(json_int_t command) {
  VlJsonRef parameter = valid_parameter(command);
  if (!one_in(4)) parameter = mutate(parameter.get(), 0);
  VlJsonRef request(json_object());
  if (!one_in(30)) json_object_set_new(request.get(), "command", json_integer(command));
  if (!one_in(30)) json_object_set(request.get(), "parameter", parameter.get());
  return dump(request.get());
}

std::string FrameFuzzer::random_bytes(std::size_t limit) {
  std::string bytes(below(limit + 1), '\0');
  for (char& c : bytes) c = static_cast<char>(below(256));
  return bytes;
}

std::string FrameFuzzer::bad_header(const std::string& body) {
  const std::string tail = body + std::string(1, '\0');
  const std::size_t length = tail.size();
  switch (below(9)) {
    case 0: return framed(body, 0, static_cast<uint32_t>(one_in(2) ? 0 : 2 + below(100)));       // version
    case 1: return framed(body, static_cast<uint32_t>(1 + below(5)));                             // type
    case 2: return "1,0," + std::to_string(below(length)) + ":" + tail;                          // too short
    case 3: return "1,0," + std::to_string(length + 1 + below(1000)) + ":" + tail;               // too long
    case 4: return "1,0," + std::to_string(max_length + 1 + below(1000)) + ":" + tail;           // oversized
    case 5: return "1,0,0:" + tail;                                                               // empty
    case 6: return std::string(32, '9') + tail;                                                   // no colon
    case 7: return "1,0,99999999999:" + tail;                                                     // beyond 32 bits
    default: return std::string(" 1,+0,-") + std::to_string(length) + ":" + tail;                 // signs, blanks
  }
}

std::string FrameFuzzer::bad_body(const std::string& body) {
  switch (below(6)) {
    case 0: return framed(body.substr(0, below(body.size() + 1)));  // cut JSON
    case 1: {
      std::string unterminated = framed(body);
      unterminated.back() = '}';
      return unterminated;
    }
    case 2: return framed(flip_bytes(body));
    case 3: return framed(std::string(1000 + below(20000), '[') + std::string(10, ']'));  // deep
    case 4: return framed(R"({"command": 18, "parameter": {"log_category": ")" + std::string(100000, 'x') +
                          R"(", "log_priority": 700}})");
    default: {
      std::string with_nul = body;
      if (!with_nul.empty()) with_nul[below(with_nul.size())] = '\0';
      return framed(with_nul);
    }
  }
}

std::string FrameFuzzer::flip_bytes(std::string text) {
  for (std::size_t i = 0, n = 1 + below(4); i < n && !text.empty(); ++i)
    text[below(text.size())] = static_cast<char>(below(256));
  return text;
}

VlJsonRef FrameFuzzer::mutate(json_t* value, int depth) {
  if (depth > 4 || one_in(6)) return VlJsonRef(random_value(depth));
  if (json_is_object(value)) {
    VlJsonRef copy(json_deep_copy(value));
    const char* key = nullptr;
    json_t* member = nullptr;
    void* next = nullptr;
    json_object_foreach_safe(copy.get(), next, key, member) {
      if (one_in(5)) json_object_del(copy.get(), key);
      else if (one_in(3)) json_object_set_new(copy.get(), key, mutate(member, depth + 1).release());
    }
    if (one_in(4)) json_object_set_new(copy.get(), keys[below(std::size(keys))], random_value(depth + 1));
    return copy;
  }
  if (json_is_array(value)) {
    VlJsonRef copy(json_deep_copy(value));
    if (one_in(2)) json_array_append_new(copy.get(), random_value(depth + 1));
    for (std::size_t i = 0; i < json_array_size(copy.get()); ++i)
      if (one_in(3)) json_array_set_new(copy.get(), i, mutate(json_array_get(copy.get(), i), depth + 1).release());
    return copy;
  }
  // Long texts (the SDP) get bytes changed; short ones are names from the pool.
  if (json_is_string(value) && json_string_length(value) > 40 && one_in(2)) {
    const std::string flipped = flip_bytes(json_string_value(value));
    return VlJsonRef(json_stringn_nocheck(flipped.data(), flipped.size()));
  }
  return VlJsonRef(random_value(depth));
}

json_t* FrameFuzzer::random_value(int depth) {
  switch (below(depth > 3 ? 5 : 7)) {
    case 0: return json_null();
    case 1: return json_boolean(one_in(2));
    case 2: return random_integer();
    case 3: return random_string();
    case 4: return json_real(one_in(2) ? 1e300 : -0.5);
    case 5: {
      json_t* array = json_array();
      for (std::size_t i = 0, n = below(4); i < n; ++i) json_array_append_new(array, random_value(depth + 1));
      return array;
    }
    default: {
      json_t* object = json_object();
      for (std::size_t i = 0, n = below(4); i < n; ++i)
        json_object_set_new(object, keys[below(std::size(keys))], random_value(depth + 1));
      return object;
    }
  }
}

json_t* FrameFuzzer::random_integer() {
  if (one_in(4)) return json_integer(static_cast<json_int_t>(below(140000)) - 70000);
  return json_integer(integers[below(std::size(integers))]);
}

json_t* FrameFuzzer::random_string() {
  if (one_in(10)) return json_string(std::string(1000 + below(5000), 'n').c_str());
  return json_string(names[below(std::size(names))]);
}

std::string printable(const std::string& bytes, std::size_t limit) {
  std::string shown;
  for (unsigned char c : bytes) {
    if (shown.size() >= limit) return shown + "...";
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      shown += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      shown += escaped;
    }
  }
  return shown;
}

}  // namespace ipcfuzz
