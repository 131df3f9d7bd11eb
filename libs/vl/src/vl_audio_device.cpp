#include "vl/vl_audio_device.h"

#include "vl/vl_device.h"
#include "vlsys/host_platform.h"
#include "vlsys/vl_log.h"
#include "vlutil/vl_json.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace {

constexpr std::size_t error_text_size = 256;
constexpr std::size_t converted_name_max = 31;

const char* key(vl_json_key_index index) { return vl_json_keys[index].name; }

// "<prefix>0" ... for the count under `count_key` (none for a missing or
// non-positive count); null when allocation fails.
json_t* default_names(const json_t* properties, const char* count_key, const char* prefix) {
  VlJsonRef names(json_array());
  if (!names) return nullptr;
  const json_t* count = json_object_get(properties, count_key);
  const json_int_t channels = json_is_integer(count) ? json_integer_value(count) : 0;
  const int made = static_cast<int>(std::min<json_int_t>(std::max<json_int_t>(channels, 0), vl_audio_max_channels));
  char name[vl_audio_name_size];
  for (int i = 0; i < made; ++i) {
    std::snprintf(name, sizeof name, "%s%i", prefix, i);
    if (json_array_append_new(names.get(), json_string(name)) != 0) return nullptr;
  }
  return names.release();
}

// Element i of `target` becomes element i of `given`, for the indices both have.
void overwrite_names(json_t* target, const json_t* given) {
  const std::size_t count = std::min(json_array_size(target), json_array_size(given));
  for (std::size_t i = 0; i < count; ++i) json_array_set(target, i, json_array_get(given, i));
}

// The value under `key_index` when it has the key table's type, else null.
json_t* typed_member(const json_t* json, vl_json_key_index key_index) {
  json_t* value = json_object_get(json, key(key_index));
  return value && json_typeof(value) == static_cast<json_type>(vl_json_keys[key_index].type) ? value : nullptr;
}

const char* name_of(const json_t* json) {
  const char* name = json_string_value(json_object_get(json, key(VL_KEY_AUDIO_DEVICE_NAME)));
  return name ? name : "";
}

// Reserves the saved device's record and restores its channel names.
void load_one(VlDevice* device, const json_t* saved) {
  const char* name = name_of(saved);
  VlAudioDevice* record = vl_device_audio_find(device, name);
  if (!record) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Could not find audio_device %s!", name);
    return;
  }
  json_t* configuration = json_object_get(saved, key(VL_KEY_AUDIO_CONFIG));
  if (!json_is_object(configuration) || json_object_size(configuration) == 0) return;
  if (!vl_audio_device_lock(record, configuration)) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Could not reserve the audio device: %s.", name);
    return;
  }
  vl_audio_device_capture_channels_set(record, json_object_get(saved, key(VL_KEY_AUDIO_CAPTID)));
  vl_audio_device_playback_channels_set(record, json_object_get(saved, key(VL_KEY_AUDIO_PLAYID)));
}

}  // namespace

VlAudioDevice* vl_audio_device_ctor(const char* name, const json_t* properties) {
  if (!name) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Invalid audio device name given!");
    errno = EINVAL;
    return nullptr;
  }
  std::unique_ptr<VlAudioDevice> record(new (std::nothrow) VlAudioDevice);
  if (record) {
    std::snprintf(record->name, sizeof record->name, "%s", name);
    record->properties = properties ? VlJsonRef::borrow(const_cast<json_t*>(properties)) : VlJsonRef(json_object());
    record->configuration.reset(json_object());
    record->capture_names.reset(default_names(properties, "channelCountCapture", "capture_channel_"));
    record->playback_names.reset(default_names(properties, "channelCountPlay", "playback_channel_"));
  }
  if (!record || !record->properties || !record->configuration || !record->capture_names ||
      !record->playback_names) {
    char err[error_text_size];
    VL_LOG(vl_log_general(), VL_LOG_FATAL, "Could not allocate memory for VlAudioDevice: %s.",
           vl_strerror(ENOMEM, err, sizeof err));
    errno = ENOMEM;
    return nullptr;
  }
  return record.release();
}

void vl_audio_device_dtor(VlAudioDevice* record) { delete record; }

VlAudioDevice* vl_audio_device_lock(VlAudioDevice* record, json_t* configuration) {
  if (!record) return nullptr;
  if (record->driver) return record;
  VL_LOG(vl_log_general(), VL_LOG_DEBUG, "Trying to instantiate audio device %s", record->name);
  const VlJsonRef description(json_pack("{s:s, s:s, s:O}", "typename", record->driver_type, "devicename",
                                        record->name, "configuration", configuration));
  std::unique_ptr<VlObject> made(description ? vl_object_make(description.get()) : nullptr);
  if (!made) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Construction of audio device %s failed.", record->name);
    return nullptr;
  }
  if (!vl_object_is_a(made.get(), vl_mediadrv_audio_ts)) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Object %s isn't an audio device.", record->name);
    return nullptr;
  }
  record->driver.reset(static_cast<VlMediadrvAudio*>(made.release()));
  record->configuration = VlJsonRef::borrow(configuration);
  VL_LOG(vl_log_general(), VL_LOG_INFO, "selected device %s", vl_mediadrv_name(record->driver.get()));
  return record;
}

void vl_audio_device_unlock(VlAudioDevice* record) {
  if (!record || !record->driver) return;
  const char* name = vl_mediadrv_name(record->driver.get());
  VL_LOG(vl_log_general(), VL_LOG_INFO, "unlock audio device %s", name ? name : "(unnamed)");
  record->driver.reset();
  record->configuration.reset(json_object());
}

VlCaptureIfc* vl_audio_capture_ifc(VlAudioDevice* record) {
  return record && record->driver ? vl_mediadrv_audio_capture_ifc(record->driver.get()) : nullptr;
}

VlPlayIfc* vl_audio_play_ifc(VlAudioDevice* record) {
  return record && record->driver ? vl_mediadrv_audio_play_ifc(record->driver.get()) : nullptr;
}

int vl_audio_device_capture_channels_set(VlAudioDevice* record, const json_t* names) {
  if (!record) {
    errno = EFAULT;
    return -1;
  }
  overwrite_names(record->capture_names.get(), names);
  return 0;
}

int vl_audio_device_playback_channels_set(VlAudioDevice* record, const json_t* names) {
  if (!record) {
    errno = EFAULT;
    return -1;
  }
  overwrite_names(record->playback_names.get(), names);
  return 0;
}

json_t* vl_audio_device_capture_channels(const VlAudioDevice* record) {
  return record ? json_incref(record->capture_names.get()) : nullptr;
}

json_t* vl_audio_device_playback_channels(const VlAudioDevice* record) {
  return record ? json_incref(record->playback_names.get()) : nullptr;
}

json_t* vl_audio_device_encode(const VlAudioDevice* record) {
  if (!record) return json_object();
  return json_pack("{s:s, s:o, s:o, s:o, s:o}", key(VL_KEY_AUDIO_DEVICE_NAME), record->name,
                   key(VL_KEY_AUDIO_PROPERTIES), json_deep_copy(record->properties.get()), key(VL_KEY_AUDIO_CONFIG),
                   json_deep_copy(record->configuration.get()), key(VL_KEY_AUDIO_CAPTID),
                   json_deep_copy(record->capture_names.get()), key(VL_KEY_AUDIO_PLAYID),
                   json_deep_copy(record->playback_names.get()));
}

json_t* vl_audio_device_list_encode(const VlAudioDevice* list) {
  VlJsonRef array(json_array());
  if (!array) return nullptr;
  for (const VlAudioDevice* record = list; record; record = record->next.get())
    if (json_array_append_new(array.get(), vl_audio_device_encode(record)) != 0) return nullptr;
  return array.release();
}

VlAudioDevice* vl_audio_device_decode(const json_t* json) {
  if (!json_is_object(json) || json_object_size(json) == 0) {
    errno = EINVAL;
    return nullptr;
  }
  std::unique_ptr<VlAudioDevice> record(vl_audio_device_ctor(
      json_string_value(typed_member(json, VL_KEY_AUDIO_DEVICE_NAME)), typed_member(json, VL_KEY_AUDIO_PROPERTIES)));
  if (!record) return nullptr;
  // Present keys replace the defaults; one of the wrong type leaves its value missing.
  const struct {
    vl_json_key_index key_index;
    VlJsonRef& value;
  } members[] = {{VL_KEY_AUDIO_CONFIG, record->configuration},
                 {VL_KEY_AUDIO_CAPTID, record->capture_names},
                 {VL_KEY_AUDIO_PLAYID, record->playback_names}};
  bool complete = true;
  for (const auto& member : members) {
    if (!json_object_get(json, key(member.key_index))) continue;
    member.value = VlJsonRef::borrow(typed_member(json, member.key_index));
    complete = complete && member.value;
  }
  if (!complete) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Invalid configuration of audio_device %s while decoding!", record->name);
    return nullptr;
  }
  return record.release();
}

VlAudioDevice* vl_audio_device_list_decode(const json_t* json) {
  if (!json_is_array(json)) {
    errno = EINVAL;
    return nullptr;
  }
  std::unique_ptr<VlAudioDevice> head;
  std::size_t index = 0;
  json_t* element = nullptr;
  json_array_foreach(const_cast<json_t*>(json), index, element) {
    std::unique_ptr<VlAudioDevice> record(vl_audio_device_decode(element));
    if (!record) continue;
    record->next = std::move(head);
    head = std::move(record);
  }
  return head.release();
}

int vl_audio_device_load(VlDevice* device, const json_t* json_array) {
  std::size_t index = 0;
  json_t* element = nullptr;
  json_array_foreach(const_cast<json_t*>(json_array), index, element) load_one(device, element);
  return 0;
}

void convert_audio_device_name(json_t* json_audio_device) {
  VlPlatform platform{};
  vl_platform_get(&platform);
  convert_audio_device_name_for_variant(json_audio_device, platform.variant);
}

void convert_audio_device_name_for_variant(json_t* json_audio_device, uint32_t variant) {
  if (!json_is_object(json_audio_device) || json_object_size(json_audio_device) == 0) return;
  static const char* const board_prefixes[] = {nullptr, "Norzel", "FennoMaster", "Quabe", "TumoCommentary"};
  if (variant < 1 || variant > 4) {
    VL_LOG(vl_log_general(), VL_LOG_WARN, "Ignore non-platform variant while converting audio device names!");
    return;
  }
  const std::string name = name_of(json_audio_device);
  if (!name.starts_with(board_prefixes[variant])) return;
  std::string suffix = "-vn0";
  if (variant == 3) {
    // The board's own suffix is kept.
    const std::size_t dash = name.rfind('-');
    if (dash == std::string::npos) return;
    suffix = name.substr(dash);
  }
  const std::string renamed = ("VELANTO Audio" + suffix).substr(0, converted_name_max);
  VL_LOG(vl_log_general(), VL_LOG_WARN, "Renaming audio device \"%s\" to \"%s\"!", name.c_str(), renamed.c_str());
  json_object_set_new(json_audio_device, key(VL_KEY_AUDIO_DEVICE_NAME), json_string(renamed.c_str()));
}
