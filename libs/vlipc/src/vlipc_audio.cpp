#include "vlipc/vlipc_audio.h"

#include "vl/vl_device.h"
#include "vlipc_reply.h"
#include "vlutil/vl_json.h"

#include <cerrno>

namespace {

const char* key(vl_json_key_index index) { return vl_json_keys[index].name; }

json_t* member(const json_t* parameter, vl_json_key_index index) { return json_object_get(parameter, key(index)); }

// The audio device the parameter names, or null.
VlAudioDevice* named_device(VlDevice* device, const json_t* parameter) {
  return vl_device_audio_find(device, json_string_value(member(parameter, VL_KEY_AUDIO_DEVICE_NAME)));
}

}  // namespace

json_t* vl_audio_reserve_request(VlDevice* device, json_t* parameter) {
  if (!vl_json_check(parameter, "vl_audio_reserve_request", 2, VL_KEY_AUDIO_DEVICE_NAME, VL_KEY_AUDIO_CONFIG))
    return VLIPC_FAIL(EINVAL, "Invalid parameter list for audio device reserve request!");
  VlAudioDevice* record = named_device(device, parameter);
  if (!record) return VLIPC_FAIL(ENODEV, "Requested audio device not found.");
  // A reserved device keeps the driver its streams use.
  if (!vl_audio_device_lock(record, member(parameter, VL_KEY_AUDIO_CONFIG)))
    return VLIPC_FAIL(ENODEV, "Could not reserve the audio device: %s.", record->name);
  return vl_audio_device_encode(record);
}

json_t* vl_audio_set_channel_names_request(VlDevice* device, json_t* parameter) {
  if (!vl_json_check(parameter, "vl_audio_set_channel_names_request", 3, VL_KEY_AUDIO_DEVICE_NAME,
                     VL_KEY_AUDIO_CAPTID, VL_KEY_AUDIO_PLAYID))
    return VLIPC_FAIL(EINVAL, "Invalid parameter list for set audio device channel names request!");
  VlAudioDevice* record = named_device(device, parameter);
  if (!record) return VLIPC_FAIL(ENODEV, "Requested audio device not found.");
  if (vl_audio_device_capture_channels_set(record, member(parameter, VL_KEY_AUDIO_CAPTID)) < 0)
    return VLIPC_FAIL(ENODEV, "Could not set capture channel names!");
  if (vl_audio_device_playback_channels_set(record, member(parameter, VL_KEY_AUDIO_PLAYID)) < 0)
    return VLIPC_FAIL(ENODEV, "Could not set playback channel names!");
  return json_null();
}

json_t* vl_audio_config_request(VlDevice*, json_t*) { return json_null(); }

json_t* vl_audio_release_request(VlDevice* device, json_t* parameter) {
  if (!vl_json_check(parameter, "vl_audio_release_request", 1, VL_KEY_AUDIO_DEVICE_NAME))
    return VLIPC_FAIL(EINVAL, "Invalid parameter list for audio device release request!");
  VlAudioDevice* record = named_device(device, parameter);
  if (!record) return VLIPC_FAIL(ENODEV, "Requested audio device not found.");
  // The streams' timers and threads reach into the driver's interfaces.
  if (vl_device_audio_in_use(device, record->name))
    return VLIPC_FAIL(ENODEV, "Audio device %s is in use by a stream!", record->name);
  vl_audio_device_unlock(record);
  return json_pack("{s:s}", key(VL_KEY_AUDIO_DEVICE_NAME), record->name);
}

void vlipc_audio_register() {
  vl_ipc_register_handler(VL_IPC_CMD_AUDIO_RSV, vl_audio_reserve_request);
  vl_ipc_register_handler(VL_IPC_CMD_AUDIO_SET_NAMES, vl_audio_set_channel_names_request);
  vl_ipc_register_handler(VL_IPC_CMD_AUDIO_CFG, vl_audio_config_request);
  vl_ipc_register_handler(VL_IPC_CMD_AUDIO_RLS, vl_audio_release_request);
}
