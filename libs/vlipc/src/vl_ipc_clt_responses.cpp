#include "vlipc/vl_ipc_clt_responses.h"

#include "vlipc/vl_ipc_clt.h"
#include "vlipc/vl_ipc_commands.h"
#include "vlsys/vl_log.h"
#include "vlutil/vl_error.h"
#include "vlutil/vl_json.h"
#include "vlutil/vl_json_ref.h"

#include <cstdlib>
#include <memory>

std::string velanto_meta_data;
std::string vllog_category_list;

namespace {

enum : json_int_t { stream_type_sender = 1, stream_type_receiver = 2 };

// Error type of a response that is neither a result nor an error array.
constexpr int unknown_error_type = 209;

log4c_category_t* category() {
  static log4c_category_t* const clt = vl_log_category("velanto.ipc.clt");
  return clt;
}

int fail(const char* text) {
  VL_LOG(category(), VL_LOG_ERROR, "%s", text);
  return -1;
}

const json_t* member(const json_t* json, vl_json_key_index index) {
  return json_object_get(json, vl_json_keys[index].name);
}

std::string compact_text(const json_t* json) {
  std::unique_ptr<char, decltype(&std::free)> text(json_dumps(json, JSON_COMPACT | JSON_PRESERVE_ORDER), std::free);
  return text ? text.get() : std::string();
}

// The mirror's session named by the response's "session_id", or null.
VlSession* session_of(VlDevice* mirror, const json_t* parameter) {
  VlSessionId id{};
  if (!vl_session_id_decode(member(parameter, VL_KEY_SESSION_ID), &id)) return nullptr;
  return vl_device_find_session(mirror, id);
}

// A new stream of `type` from `json`, or null.
VlStream* decode_stream(json_int_t type, const json_t* json) {
  if (type == stream_type_sender) return vl_stream_sender_decode(json);
  return vl_stream_receiver_decode(json);
}

void replace_stream(VlSession* session, json_int_t type, VlStream* stream) {
  if (type == stream_type_sender)
    vl_session_replace_sender(session, static_cast<VlStreamSender*>(stream));
  else
    vl_session_replace_receiver(session, static_cast<VlStreamReceiver*>(stream));
}

VlStream* stream_in(VlSession* session, json_int_t type) {
  if (type == stream_type_sender) return vl_session_get_sender(session);
  return vl_session_get_receiver(session);
}

// The add responses: the daemon's new stream takes the mirror's slot. A
// response of the other stream type is refused, so that a receiver's
// description never lands in the sender slot.
int stream_added(VlDevice* mirror, const json_t* parameter, json_int_t expected_type) {
  if (!mirror) return 0;
  if (!vl_json_check(parameter, "vl_stream_add_response", 3, VL_KEY_SESSION_ID, VL_KEY_STREAM_TYPE, VL_KEY_STREAM))
    return fail("Invalid add stream response received!");
  VlSession* session = session_of(mirror, parameter);
  if (!session) return fail("Could not find session to add stream to!");
  if (json_integer_value(member(parameter, VL_KEY_STREAM_TYPE)) != expected_type)
    return fail("Illegal stream type for stream to add!");
  VlStream* stream = decode_stream(expected_type, member(parameter, VL_KEY_STREAM));
  if (!stream) return fail("Invalid add stream response received!");
  replace_stream(session, expected_type, stream);
  return 0;
}

int stream_deleted(VlDevice* mirror, const json_t* parameter, json_int_t expected_type) {
  if (!mirror) return 0;
  if (!vl_json_check(parameter, "vl_stream_del_response", 2, VL_KEY_SESSION_ID, VL_KEY_STREAM_TYPE))
    return fail("Invalid delete stream response received!");
  VlSession* session = session_of(mirror, parameter);
  if (!session) return fail("Could not find session to delete stream from!");
  if (json_integer_value(member(parameter, VL_KEY_STREAM_TYPE)) != expected_type)
    return fail("Illegal stream type for stream to delete!");
  replace_stream(session, expected_type, nullptr);
  return 0;
}

// A mirror stream has no manager to take a new map, so the stream is made
// again from its description with the new map and audio device.
int remap_stream(VlSession* session, json_int_t type, const json_t* map, const json_t* device_name) {
  VlStream* stream = stream_in(session, type);
  if (!stream) return fail("Could not find stream to change!");
  VlJsonRef description(type == stream_type_sender
                            ? vl_stream_sender_encode(static_cast<VlStreamSender*>(stream))
                            : vl_stream_receiver_encode(static_cast<VlStreamReceiver*>(stream)));
  json_object_set(description.get(), vl_json_keys[VL_KEY_STREAM_CHANNELMAP].name, const_cast<json_t*>(map));
  json_object_set(description.get(), vl_json_keys[VL_KEY_AUDIO_DEVICE_NAME].name, const_cast<json_t*>(device_name));
  VlStream* changed = decode_stream(type, description.get());
  if (!changed) return fail("Could not decode channel_map!");
  replace_stream(session, type, changed);
  return 0;
}

// Response numbers 0 to 25, as the server's command table.
constexpr vl_ipc_response_handler handlers[VL_IPC_CMD_COUNT] = {
    vl_error_response,          vl_init_response,          vl_accept_response,
    vl_accept_response,         vl_load_response,          vl_accept_response,
    vl_session_add_response,    vl_session_del_response,   vl_session_info_response,
    vl_stream_add_snd_response, vl_stream_add_rcv_response, vl_stream_del_snd_response,
    vl_stream_del_rcv_response, vl_stream_change_response, vl_audio_reserve_response,
    vl_accept_response,         vl_accept_response,        vl_audio_release_response,
    vl_accept_response,         vl_log_get_categories_response, vl_accept_response,
    vl_ptp_get_status_response, vl_accept_response,        vl_accept_response,
    vl_sap_list_response,       vl_sap_set_response,
};

}  // namespace

vl_ipc_response_handler vl_ipc_response_handler_of(uint32_t command) {
  return command < VL_IPC_CMD_COUNT ? handlers[command] : nullptr;
}

int vl_ipc_response_handle(uint32_t command, VlDevice** mirror, const json_t* parameter) {
  if (json_is_array(parameter)) {
    if (command == VL_IPC_CMD_INIT) VL_LOG(category(), VL_LOG_ERROR, "IPC responds error!");
    vl_error_decode(parameter);
    vl_error_backtrace(nullptr);
    return -1;
  }
  const vl_ipc_response_handler handler = vl_ipc_response_handler_of(command);
  return handler ? handler(mirror, parameter) : -1;
}

int vl_error_response(VlDevice**, const json_t*) {
  VL_ERROR_ADD(unknown_error_type, "Unknown error in IPC communication occured!");
  vl_error_backtrace(nullptr);
  return -1;
}

int vl_init_response(VlDevice** mirror, const json_t* parameter) {
  VlDevice* decoded = vl_device_decode(parameter);
  if (!decoded) return fail("Could not decode device structure!");
  vl_device_dtor(*mirror);
  *mirror = decoded;
  return 0;
}

int vl_accept_response(VlDevice**, const json_t*) { return 0; }

int vl_load_response(VlDevice**, const json_t* parameter) {
  if (!vl_json_check(parameter, "vl_load_response", 1, VL_KEY_CLT_CONFIG))
    return fail("Invalid load config response received!");
  std::string text = compact_text(member(parameter, VL_KEY_CLT_CONFIG));
  if (text.empty()) return fail("Invalid config received!");
  velanto_meta_data = std::move(text);
  return 0;
}

int vl_session_add_response(VlDevice** mirror, const json_t* parameter) {
  if (*mirror && vl_device_decode_session(*mirror, parameter) < 0)
    return fail("Could not add new session to session list!");
  return 0;
}

int vl_session_del_response(VlDevice** mirror, const json_t* parameter) {
  if (!*mirror) return 0;
  VlSession* session = session_of(*mirror, parameter);
  if (!session) return fail("Could not find session to delete!");
  vl_device_del_session(*mirror, session);
  return 0;
}

int vl_session_info_response(VlDevice** mirror, const json_t* parameter) {
  const json_t* list = member(parameter, VL_KEY_SESSION_INFO_LIST);
  if (json_object_size(parameter) != 1 || !list) return fail("Invalid session info list response received!");
  if (!json_is_array(list)) return fail("Invalid session info list received!");
  if (!*mirror) return 0;
  std::size_t index = 0;
  const json_t* info = nullptr;
  json_array_foreach(list, index, info) {
    if (json_object_size(info) != 3) {
      fail("Invalid session info received!");
      continue;
    }
    VlSession* session = session_of(*mirror, info);
    if (!session) {
      fail("Could not find session to assign rtcp info to!");
      continue;
    }
    vl_stream_decode_info(vl_session_get_sender(session), member(info, VL_KEY_SESSION_SENDER_INFO));
    vl_stream_decode_info(vl_session_get_receiver(session), member(info, VL_KEY_SESSION_RECEIVER_INFO));
  }
  return 0;
}

int vl_stream_add_snd_response(VlDevice** mirror, const json_t* parameter) {
  return stream_added(*mirror, parameter, stream_type_sender);
}

int vl_stream_add_rcv_response(VlDevice** mirror, const json_t* parameter) {
  return stream_added(*mirror, parameter, stream_type_receiver);
}

int vl_stream_del_snd_response(VlDevice** mirror, const json_t* parameter) {
  return stream_deleted(*mirror, parameter, stream_type_sender);
}

int vl_stream_del_rcv_response(VlDevice** mirror, const json_t* parameter) {
  return stream_deleted(*mirror, parameter, stream_type_receiver);
}

int vl_stream_change_response(VlDevice** mirror, const json_t* parameter) {
  if (!*mirror) return 0;
  if (!vl_json_check(parameter, "vl_stream_change_response", 4, VL_KEY_SESSION_ID, VL_KEY_STREAM_TYPE,
                     VL_KEY_STREAM_CHANNELMAP, VL_KEY_AUDIO_DEVICE_NAME))
    return fail("Invalid change stream response received!");
  VlSession* session = session_of(*mirror, parameter);
  if (!session) return fail("Could not find session to change stream on!");
  const json_t* map = member(parameter, VL_KEY_STREAM_CHANNELMAP);
  if (!VlChannelMapPtr(vl_channel_map_decode(map))) return fail("Could not decode channel_map!");
  const json_t* device_name = member(parameter, VL_KEY_AUDIO_DEVICE_NAME);
  if (!vl_device_audio_find(*mirror, json_string_value(device_name)))
    return fail("Could not decode/find requested audio device!");
  const json_int_t type = json_integer_value(member(parameter, VL_KEY_STREAM_TYPE));
  if (type != stream_type_sender && type != stream_type_receiver)
    return fail("Illegal stream type for stream to change!");
  return remap_stream(session, type, map, device_name);
}

int vl_audio_reserve_response(VlDevice** mirror, const json_t* parameter) {
  std::unique_ptr<VlAudioDevice> decoded(vl_audio_device_decode(parameter));
  if (!decoded) return fail("Could not decode audio device!");
  if (!*mirror) return 0;
  VlAudioDevice* record = vl_device_audio_find(*mirror, decoded->name);
  if (!record) {
    VL_LOG(category(), VL_LOG_ERROR, "Someone has deleted an audio interface that should be reserved: %s",
           decoded->name);
    return -1;
  }
  record->configuration = std::move(decoded->configuration);
  record->capture_names = std::move(decoded->capture_names);
  record->playback_names = std::move(decoded->playback_names);
  return 0;
}

int vl_audio_release_response(VlDevice** mirror, const json_t* parameter) {
  if (!*mirror) return 0;
  const char* name = json_string_value(member(parameter, VL_KEY_AUDIO_DEVICE_NAME));
  VlAudioDevice* record = vl_device_audio_find(*mirror, name);
  if (!record) {
    VL_LOG(category(), VL_LOG_ERROR, "Could not find audio device %s!", name ? name : "");
    return -1;
  }
  record->configuration.reset(json_object());
  return 0;
}

int vl_log_get_categories_response(VlDevice**, const json_t* parameter) {
  if (!vl_json_check(parameter, "vl_log_get_categories_response", 1, VL_KEY_LOG_CATEGORY_LIST))
    return fail("Invalid response for get log categories request!");
  vllog_category_list = compact_text(member(parameter, VL_KEY_LOG_CATEGORY_LIST));
  return 0;
}

int vl_ptp_get_status_response(VlDevice** mirror, const json_t* parameter) {
  const json_t* encoded = member(parameter, VL_KEY_PTP_STATUS);
  std::unique_ptr<VlPtpStatus> status(json_is_object(encoded) ? vl_ptp_status_decode(encoded) : nullptr);
  if (!status) return fail("Could not get ptp status!");
  if (!*mirror) return 0;
  VlLock lock((*mirror)->ptp_lock);
  (*mirror)->ptp_status = *status;
  return 0;
}

int vl_sap_list_response(VlDevice**, const json_t* parameter) {
  if (!vl_json_check(parameter, "vl_sap_list_response", 1, VL_KEY_SAP_LIST))
    return fail("Invalid SAP list response received!");
  return 0;
}

int vl_sap_set_response(VlDevice** mirror, const json_t* parameter) {
  if (!vl_json_check(parameter, "vl_sap_set_response", 2, VL_KEY_SESSION_ID, VL_KEY_STREAM_SAP))
    return fail("Invalid SAP announcement response received!");
  if (!*mirror) return 0;
  VlStreamSender* sender = vl_session_get_sender(session_of(*mirror, parameter));
  if (!sender) return fail("Could not find the sender whose announcement changed!");
  sender->set_sap_enabled(json_integer_value(member(parameter, VL_KEY_STREAM_SAP)) != 0);
  return 0;
}
