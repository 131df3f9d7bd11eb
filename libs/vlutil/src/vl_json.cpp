#include "vlutil/vl_json.h"

#include "vlsys/host_config.h"
#include "vlsys/vl_log.h"

#include <md5.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

const vl_json_key_entry vl_json_keys[VL_KEY_COUNT] = {
    {JSON_STRING, "vl_clt_config_file"},
    {JSON_OBJECT, "vl_clt_config"},
    {JSON_OBJECT, "vl_version"},
    {JSON_INTEGER, "vl_version_major"},
    {JSON_INTEGER, "vl_version_minor"},
    {JSON_STRING, "vl_version_build"},
    {JSON_OBJECT, "device_id"},
    {JSON_STRING, "serial_number"},
    {JSON_STRING, "vendor_id"},
    {JSON_STRING, "device"},
    {JSON_INTEGER, "device_type"},
    {JSON_INTEGER, "device_variant"},
    {JSON_OBJECT, "ptp_configuration"},
    {JSON_OBJECT, "ptp_status"},
    {JSON_INTEGER, "ptp_domain"},
    {JSON_INTEGER, "ptp_port_state"},
    {JSON_INTEGER, "ptp_slave_only"},
    {JSON_INTEGER, "ptp_is_syncronized"},
    {JSON_STRING, "ptp_master_ip"},
    {JSON_INTEGER, "ptp_delay_mechanism"},
    {JSON_STRING, "ptp_gm_id"},
    {JSON_INTEGER, "ptp_gm_clock_class"},
    {JSON_INTEGER, "ptp_gm_clock_accuracy"},
    {JSON_INTEGER, "ptp_offset_nsec"},
    {JSON_INTEGER, "ptp_offset_sign"},
    {JSON_INTEGER, "ptp_prio_1"},
    {JSON_INTEGER, "ptp_prio_2"},
    {JSON_INTEGER, "ptp_log_announce"},
    {JSON_INTEGER, "ptp_log_sync"},
    {JSON_INTEGER, "ptp_dscp"},
    {JSON_OBJECT, "audio_device"},
    {JSON_ARRAY, "audio_device_list"},
    {JSON_STRING, "audio_device_name"},
    {JSON_OBJECT, "audio_properties"},
    {JSON_OBJECT, "audio_config"},
    {JSON_ARRAY, "audio_captid"},
    {JSON_ARRAY, "audio_playid"},
    {JSON_ARRAY, "audio_encoder_list"},
    {JSON_OBJECT, "session"},
    {JSON_ARRAY, "session_list"},
    {JSON_STRING, "session_addr"},
    {JSON_INTEGER, "session_port"},
    {JSON_OBJECT, "session_id"},
    {JSON_OBJECT, "session_sender"},
    {JSON_OBJECT, "session_receiver"},
    {JSON_ARRAY, "session_info_list"},
    {JSON_OBJECT, "session_sender_info"},
    {JSON_OBJECT, "session_receiver_info"},
    {JSON_OBJECT, "stream"},
    {JSON_INTEGER, "stream_type"},
    {JSON_INTEGER, "stream_sdp_id"},
    {JSON_STRING, "stream_address"},
    {JSON_INTEGER, "stream_port"},
    {JSON_STRING, "stream_clkdomain"},
    {JSON_INTEGER, "stream_payload"},
    {JSON_INTEGER, "stream_dscp"},
    {JSON_STRING, "stream_encoding"},
    {JSON_INTEGER, "stream_synctime"},
    {JSON_INTEGER, "stream_clockdev_num"},
    {JSON_INTEGER, "stream_clockdev_den"},
    {JSON_ARRAY, "stream_channelmap"},
    {JSON_INTEGER, "stream_end2enddelay"},
    {JSON_INTEGER, "stream_packetduration"},
    {JSON_INTEGER, "stream_seqno"},
    {JSON_STRING, "stream_sdp"},
    {JSON_INTEGER, "rtcp_seqno"},
    {JSON_INTEGER, "rtcp_ssrc"},
    {JSON_STRING, "rtcp_cname"},
    {JSON_OBJECT, "rtcp_sender_info"},
    {JSON_ARRAY, "rtcp_receiver_info"},
    {JSON_INTEGER, "rtcp_ntp_sec"},
    {JSON_INTEGER, "rtcp_ntp_frac"},
    {JSON_INTEGER, "rtcp_rtp_ts"},
    {JSON_INTEGER, "rtcp_psend"},
    {JSON_INTEGER, "rtcp_osend"},
    {JSON_INTEGER, "rtcp_lost"},
    {JSON_INTEGER, "rtcp_last_seq"},
    {JSON_INTEGER, "rtcp_jitter"},
    {JSON_INTEGER, "rtcp_lsr"},
    {JSON_INTEGER, "rtcp_dlsr"},
    {JSON_OBJECT, "log_category_list"},
    {JSON_STRING, "log_category"},
    {JSON_INTEGER, "log_priority"},
    {JSON_ARRAY, "network_interface"},
    {JSON_STRING, "network_interface_name"},
    {JSON_ARRAY, "network_interface_mac"},
    {JSON_INTEGER, "network_interface_addr"},
    {JSON_INTEGER, "network_interface_mask"},
    {JSON_INTEGER, "network_interface_type"},
    {JSON_INTEGER, "event_id"},
    {JSON_STRING, "event_originator"},
    {JSON_INTEGER, "event_exclusive"},
    {JSON_STRING, "event_data"},
    {JSON_INTEGER, "stream_sap"},
    {JSON_ARRAY, "sap_list"},
    {JSON_INTEGER, "rtcp_reporter_ssrc"},
    {JSON_STRING, "unknown key"},
};

namespace {

const char* const type_names[] = {
    "JSON object",           "JSON array",          "JSON string",          "JSON integer (number)",
    "JSON real (number)",    "JSON true (boolean)", "JSON false (boolean)", "JSON null",
};

constexpr int type_name_count = sizeof type_names / sizeof type_names[0];

struct FreeDeleter {
  void operator()(char* text) const { std::free(text); }
};

std::string errno_text() {
  char text[256];
  return vl_strerror(errno, text, sizeof text);
}

// Checks one listed key of `json`; false (logged) when it is missing or mistyped.
bool check_key(const json_t* json, int index) {
  if (index < 0 || index >= VL_KEY_COUNT) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Key index %i is out of range.", index);
    return false;
  }
  const vl_json_key_entry& entry = vl_json_keys[index];
  const json_t* value = json_object_get(json, entry.name);
  if (!value) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Key \"%s\" not found.", entry.name);
    return false;
  }
  if (static_cast<uint32_t>(json_typeof(value)) != entry.type) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Key \"%s\" has wrong type %i, should be %i!", entry.name,
           static_cast<int>(json_typeof(value)), static_cast<int>(entry.type));
    return false;
  }
  return true;
}

// "%s\n%s\n" of the text and its MD5 in lowercase hex.
std::string file_image(const char* text) {
  char digest[MD5_DIGEST_STRING_LENGTH];
  MD5Data(reinterpret_cast<const uint8_t*>(text), std::strlen(text), digest);
  std::string image(text);
  image += '\n';
  image += digest;
  image += '\n';
  return image;
}

}  // namespace

const char* vl_json_type_name(int type) {
  return type >= 0 && type < type_name_count ? type_names[type] : "JSON type unknown";
}

bool vl_json_check(const json_t* json, const char* caller_name, int count, ...) {
  if (!caller_name) caller_name = "";
  if (!json_is_object(json)) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "No json object given from %s!", caller_name);
    return false;
  }
  bool all_found = true;
  va_list indices;
  va_start(indices, count);
  for (int i = 0; i < count; ++i) {
    if (!check_key(json, va_arg(indices, int))) all_found = false;
  }
  va_end(indices);
  if (!all_found) VL_LOG(vl_log_general(), VL_LOG_ERROR, "vl_json_object_check() failed in %s!", caller_name);
  return all_found;
}

int vl_json_key(const char* caller_name, const char* key, const json_t* value) {
  if (!caller_name) caller_name = "";
  if (!key) key = "";
  // The sentinel's own name is not searched.
  for (int index = 0; index < VL_KEY_UNKNOWN; ++index) {
    const vl_json_key_entry& entry = vl_json_keys[index];
    if (std::strcmp(entry.name, key) != 0) continue;
    const int actual = value ? static_cast<int>(json_typeof(value)) : -1;
    if (actual == static_cast<int>(entry.type)) return index;
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "%s: Illegal type of key %s. Should be %s, but is %s!", caller_name,
           key, vl_json_type_name(static_cast<int>(entry.type)), vl_json_type_name(actual));
    return VL_KEY_UNKNOWN;
  }
  VL_LOG(vl_log_general(), VL_LOG_ERROR, "%s: Unknown key %s inside json object!", caller_name, key);
  return VL_KEY_UNKNOWN;
}

int vl_json_save_file(const json_t* json, const char* name) {
  if (!name) name = "";
  std::unique_ptr<char, FreeDeleter> text(json ? json_dumps(json, JSON_INDENT(2) | JSON_PRESERVE_ORDER) : nullptr);
  if (!text) {
    VL_LOG(vl_log_general(), VL_LOG_INFO, "Did not find any information to save!");
    return -1;
  }
  const std::string image = file_image(text.get());
  text.reset();
  if (vl_config_save(name, image.data(), image.size()) < 0) {
    VL_LOG(vl_log_general(), VL_LOG_INFO, "Could not write file %s: %s!", name, errno_text().c_str());
    return -1;
  }
  return 0;
}

json_t* vl_json_load_file(const char* name) {
  if (!name) name = "";
  const int fd = vl_config_open_read(name);
  if (fd < 0) {
    VL_LOG(vl_log_general(), VL_LOG_INFO, "Could not open file %s: %s!", name, errno_text().c_str());
    return nullptr;
  }
  FILE* stream = fdopen(fd, "r");
  if (!stream) {
    VL_LOG(vl_log_general(), VL_LOG_INFO, "Could not open file stream from %s: %s!", name, errno_text().c_str());
    vl_config_close_read(fd);
    return nullptr;
  }
  // Parsing stops after the first value: the check line behind it is never read.
  json_error_t error;
  json_t* json = json_loadf(stream, JSON_DISABLE_EOF_CHECK, &error);
  std::fclose(stream);
  if (!json) VL_LOG(vl_log_general(), VL_LOG_INFO, "Could not read file %s: %s!", name, error.text);
  return json;
}
