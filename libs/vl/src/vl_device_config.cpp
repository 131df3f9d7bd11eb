#include "vl/vl_device_config.h"

#include "vl/vl_device.h"
#include "vlsys/host_config.h"
#include "vlsys/host_platform.h"
#include "vlsys/vl_log.h"
#include "vlutil/vl_json.h"
#include "vlutil/vl_json_ref.h"

#include <cstdlib>
#include <memory>
#include <string>

namespace {

constexpr int log4c_unknown_priority = 1000;
constexpr uint32_t board_family = 5;

std::string compact_text(const json_t* json) {
  char* text = json_dumps(json, JSON_COMPACT | JSON_PRESERVE_ORDER);
  std::string result = text ? text : "";
  std::free(text);
  return result;
}

// The live sessions, each with the streams a load could not restore in its
// empty slots, then the saved sessions that could not be restored at all
// (unless a live session has taken their identity since).
json_t* saved_sessions(VlDevice* device) {
  VlJsonRef sessions(json_array());
  VlLock lock(device->session_lock);
  for (const VlSession* session = device->sessions.get(); session; session = session->next.get()) {
    json_t* saved = vl_session_encode(session);
    if (!session->sender && session->kept_sender) json_object_set(saved, "session_sender", session->kept_sender.get());
    if (!session->receivers && session->kept_receiver)
      json_object_set(saved, "session_receiver", session->kept_receiver.get());
    json_array_append_new(sessions.get(), saved);
  }
  std::size_t index = 0;
  json_t* kept = nullptr;
  json_array_foreach(device->kept_sessions.get(), index, kept) {
    VlSessionId id{};
    const bool live = vl_session_id_decode(json_object_get(kept, "session_id"), &id) &&
                      [&] {
                        for (const VlSession* s = device->sessions.get(); s; s = s->next.get())
                          if (vl_session_is_equal(s->id, id)) return true;
                        return false;
                      }();
    if (!live) json_array_append(sessions.get(), kept);
  }
  return sessions.release();
}

// The saved audio devices a load could not restore, unless their device has
// been reserved since: its own entry then says it all, and a stale one
// behind it would replace its channel names at the next load.
json_t* saved_audio_devices(VlDevice* device) {
  VlJsonRef kept(json_array());
  std::size_t index = 0;
  json_t* saved = nullptr;
  json_array_foreach(device->kept_audio_devices.get(), index, saved) {
    const VlAudioDevice* live =
        vl_device_audio_find(device, json_string_value(json_object_get(saved, "audio_device_name")));
    if (!live || !live->driver) json_array_append(kept.get(), saved);
  }
  return kept.release();
}

json_t* configuration_of(VlDevice* device) {
  VlJsonRef json(vl_device_encode(device));
  if (!json) return nullptr;
  json_object_del(json.get(), "ptp_status");
  const VlJsonRef kept_audio(saved_audio_devices(device));
  json_array_extend(json_object_get(json.get(), "audio_device_list"), kept_audio.get());
  json_object_set_new(json.get(), "session_list", saved_sessions(device));
  json_object_set_new(json.get(), "logging", vl_log_get_category_list());
  json_object_set_new(json.get(), "additional", json_copy(device->additional.get()));
  return json.release();
}

enum class FileVersion { incompatible, older, compatible };

FileVersion place_on_ladder(const VlVersion* version) {
  for (uint32_t minor = 30; minor <= 34; ++minor) {
    if (!vl_version_is(version, minor)) continue;
    VL_LOG(vl_log_general(), VL_LOG_INFO, "Found compatible version 0.%u in configuration!", minor);
    return FileVersion::older;
  }
  if (vl_version_is(version, 35) || vl_version_is(version, 36) || vl_version_is_current(version)) {
    VL_LOG(vl_log_general(), VL_LOG_INFO, "Found compatible version >=0.35 in configuration!");
    return FileVersion::compatible;
  }
  VL_LOG(vl_log_general(), VL_LOG_WARN, "Found incompatible version in configuration, abort loading!");
  return FileVersion::incompatible;
}

void rename_audio_devices(json_t* stored) {
  std::size_t index = 0;
  json_t* element = nullptr;
  json_array_foreach(json_object_get(stored, "audio_device_list"), index, element) convert_audio_device_name(element);
  json_array_foreach(json_object_get(stored, "session_list"), index, element) {
    convert_audio_device_name(json_object_get(element, "session_receiver"));
    convert_audio_device_name(json_object_get(element, "session_sender"));
  }
}

// Files before 0.35 have no platform fields.
void upgrade(json_t* stored) {
  VlPlatform platform{};
  vl_platform_get(&platform);
  json_t* id = json_object_get(stored, "device_id");
  if (json_is_object(id)) {
    json_object_set_new(id, "device_type", json_integer(platform.type));
    json_object_set_new(id, "device_variant", json_integer(platform.variant));
  }
  if (platform.type == board_family) rename_audio_devices(stored);
}

void restore_log_priorities(const json_t* logging) {
  if (!json_is_object(logging)) {
    VL_LOG(vl_log_general(), VL_LOG_INFO, "Could not find any logging categories to restore!");
    return;
  }
  const char* name = nullptr;
  json_t* value = nullptr;
  json_object_foreach(const_cast<json_t*>(logging), name, value) {
    const int priority = static_cast<int>(json_integer_value(value));
    if (vl_log_priority_set(name, priority) == log4c_unknown_priority)
      VL_LOG(vl_log_general(), VL_LOG_INFO, "Invalid priority %d for category %s", priority, name);
    else
      VL_LOG(vl_log_general(), VL_LOG_INFO, "Log priority for category %s set to %d", name, priority);
  }
}

void restore_additional(VlDevice* device, const json_t* additional) {
  const char* name = nullptr;
  json_t* value = nullptr;
  json_object_foreach(const_cast<json_t*>(additional), name, value) json_object_set(device->additional.get(), name, value);
}

bool is_this_device(VlDevice* device, const json_t* stored) {
  std::unique_ptr<VlDeviceId, void (*)(VlDeviceId*)> id(vl_device_id_decode(json_object_get(stored, "device_id")),
                                                       vl_device_id_dtor);
  if (id && vl_device_is_equal(id.get(), device->id.get())) return true;
  VL_LOG(vl_log_general(), VL_LOG_WARN, "Found wrong device in configuration, abort loading!");
  VL_LOG(vl_log_general(), VL_LOG_ERROR, "Invalid VELANTO configuration! Abort loading!");
  return false;
}

// What cannot be restored now (a sound card not plugged in, say) is kept
// for the next save rather than lost.
void restore_audio_devices(VlDevice* device, const json_t* list) {
  std::size_t index = 0;
  json_t* saved = nullptr;
  json_array_foreach(list, index, saved) {
    if (vl_audio_device_load_one(device, saved)) continue;
    VL_LOG(vl_log_general(), VL_LOG_WARN, "Keeping audio device %s for the next save: it could not be restored.",
           json_string_value(json_object_get(saved, "audio_device_name")));
    json_array_append(device->kept_audio_devices.get(), saved);
  }
}

}  // namespace

int vl_device_save_configuration(VlDevice* device, const char* name) {
  VlJsonRef json(configuration_of(device));
  if (!json) return -1;
  std::string text = compact_text(json.get());
  if (text == device->last_saved_configuration) return 0;
  if (vl_json_save_file(json.get(), name) != 0) return -1;
  device->last_saved_configuration = std::move(text);
  return 0;
}

int vl_device_load_configuration(VlDevice* device, const char* name) {
  if (!device) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Invalid VELANTO device object! Abort loading!");
    return -1;
  }
  VlJsonRef stored(vl_json_load_file(name));
  if (!stored) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Could not find file %s!", name);
    return -1;
  }
  std::unique_ptr<VlVersion, VlVersionDeleter> version(vl_version_decode(json_object_get(stored.get(), "vl_version")));
  const FileVersion placed = version ? place_on_ladder(version.get()) : FileVersion::incompatible;
  if (placed == FileVersion::incompatible) {
    if (!version) VL_LOG(vl_log_general(), VL_LOG_WARN, "Found incompatible version in configuration, abort loading!");
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Invalid VELANTO configuration object! Abort loading!");
    return -1;
  }
  if (placed == FileVersion::older) upgrade(stored.get());
  restore_log_priorities(json_object_get(stored.get(), "logging"));
  restore_additional(device, json_object_get(stored.get(), "additional"));
  if (!is_this_device(device, stored.get())) return -1;
  device->kept_audio_devices.reset(json_array());
  device->kept_sessions.reset(json_array());
  restore_audio_devices(device, json_object_get(stored.get(), "audio_device_list"));
  vl_session_load(device, json_object_get(stored.get(), "session_list"));
  return 0;
}

int vl_device_delete_configuration(VlDevice* device, const char* name) {
  if (device) device->last_saved_configuration.clear();
  return vl_config_delete(name);
}
