#include "vlipc/vlipc_init.h"

#include "vl/vl_device.h"
#include "vl/vl_device_config.h"
#include "vlipc/vlipc_request.h"
#include "vlsys/vl_log.h"
#include "vlutil/vl_json_ref.h"

#include <cerrno>
#include <cstring>

namespace {

const char* configuration_name(const json_t* parameter) { return vlipc_text(parameter, VL_KEY_CLT_CONFIG_FILE); }

json_t* driver_attributes(VlAudioDevice* record) {
  VlJsonRef values(json_array());
  for (int id = 1; id <= vl_ipc_max_driver_attributes; ++id) {
    json_t* value = vl_controllable_get_attr(record->driver.get(), id);
    if (!value) break;
    json_array_append_new(values.get(), value);
  }
  return values.release();
}

// Lets a client watch what a reserved driver finds while it streams.
void add_driver_attributes(VlDevice* device, json_t* description) {
  std::size_t index = 0;
  json_t* entry = nullptr;
  json_array_foreach(vlipc_member(description, VL_KEY_AUDIO_DEVICE_LIST), index, entry) {
    VlAudioDevice* record = vl_device_audio_find(device, vlipc_text(entry, VL_KEY_AUDIO_DEVICE_NAME));
    if (!record || !record->driver) continue;
    VlJsonRef attributes(driver_attributes(record));
    if (json_array_size(attributes.get()) > 0) json_object_set(entry, "audio_attributes", attributes.get());
  }
}

}  // namespace

json_t* vl_init_request(VlDevice* device, json_t*) {
  VL_LOG(vl_log_general(), VL_LOG_INFO, "Got init() request ...!");
  json_t* description = vl_device_encode(device);
  add_driver_attributes(device, description);
  return description;
}

json_t* vl_done_request(VlDevice*, json_t*) { return json_null(); }

json_t* vl_save_request(VlDevice* device, json_t* parameter) {
  if (!vl_json_check(parameter, "vl_save_request", 2, VL_KEY_CLT_CONFIG_FILE, VL_KEY_CLT_CONFIG))
    return VL_IPC_REFUSE(EINVAL, "Invalid parameter for save command!");
  const char* name = configuration_name(parameter);
  json_t* settings = vlipc_member(parameter, VL_KEY_CLT_CONFIG);
  if (std::strcmp(name, vl_ipc_whole_configuration) != 0 && json_object_size(settings) > 0)
    json_object_set(device->additional.get(), name, settings);
  // The client must learn that its settings are not on disk.
  if (vl_device_save_configuration(device, vl_ipc_configuration_file) != 0)
    return VL_IPC_REFUSE(EIO, "Could not save configuration to %s!", vl_ipc_configuration_file);
  return json_null();
}

json_t* vl_load_request(VlDevice* device, json_t* parameter) {
  if (!vl_json_check(parameter, "vl_load_request", 1, VL_KEY_CLT_CONFIG_FILE))
    return VL_IPC_REFUSE(EINVAL, "Invalid parameter for load command!");
  const char* name = configuration_name(parameter);
  json_t* settings = json_object_get(device->additional.get(), name);
  if (!settings) return VL_IPC_REFUSE(EINVAL, "Could not get requested value for key: %s!", name);
  return json_pack("{s:O}", vlipc_key(VL_KEY_CLT_CONFIG), settings);
}

json_t* vl_del_request(VlDevice* device, json_t* parameter) {
  if (!vl_json_check(parameter, "vl_del_request", 1, VL_KEY_CLT_CONFIG_FILE))
    return VL_IPC_REFUSE(EINVAL, "Invalid parameter for delete command!");
  const char* name = configuration_name(parameter);
  if (std::strcmp(name, vl_ipc_whole_configuration) == 0)
    vl_device_delete_configuration(device, vl_ipc_configuration_file);
  else
    json_object_del(device->additional.get(), name);
  return json_null();
}

void vlipc_init_register() {
  vl_ipc_register_handler(VL_IPC_CMD_INIT, vl_init_request);
  vl_ipc_register_handler(VL_IPC_CMD_DONE, vl_done_request);
  vl_ipc_register_handler(VL_IPC_CMD_SAVE_CONFIG, vl_save_request);
  vl_ipc_register_handler(VL_IPC_CMD_LOAD_CONFIG, vl_load_request);
  vl_ipc_register_handler(VL_IPC_CMD_DEL_CONFIG, vl_del_request);
}
