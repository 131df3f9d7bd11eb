#include "vlipc/vlipc_ptp.h"

#include "vl/vl_device.h"
#include "vl/vl_ptp.h"
#include "vlipc_reply.h"
#include "vlsys/vl_log.h"
#include "vlutil/vl_json.h"

#include <cerrno>
#include <cstdint>
#include <memory>

namespace {

const char* key(vl_json_key_index index) { return vl_json_keys[index].name; }

// The first reserved audio device whose configuration names a PTP domain
// other than `domain`, or null.
const VlAudioDevice* audio_device_in_other_domain(VlDevice* device, uint8_t domain) {
  VlLock lock(device->audio_lock);
  for (const VlAudioDevice* record = device->audio_devices.get(); record; record = record->next.get()) {
    const json_t* configuration = record->configuration.get();
    if (json_object_size(configuration) == 0) continue;
    const auto wanted = static_cast<uint8_t>(json_integer_value(json_object_get(configuration, "ptpDomain")));
    if (wanted != domain) return record;
  }
  return nullptr;
}

}  // namespace

json_t* vl_ptp_set_config_request(VlDevice* device, json_t* parameter) {
  VlPtpInterface* first = vl_ptp_ifc_get(vl_ptp_any_domain);
  if (!first) return VLIPC_FAIL(EINVAL, "Cannot get current PTP domain!");
  const uint8_t current = first->domain();
  VlPtpInterface* serving = vl_ptp_ifc_get(current);
  if (!vl_json_check(parameter, "vl_ptp_set_config_request", 1, VL_KEY_PTP_CONFIGURATION))
    return VLIPC_FAIL(EINVAL, "Invalid parameter for ptp config request!");
  const std::unique_ptr<VlPtpProperties> requested(
      vl_ptp_properties_decode(json_object_get(parameter, key(VL_KEY_PTP_CONFIGURATION))));
  if (!requested) return VLIPC_FAIL(ENOMEM, "Could not get memory for ptp configuration request!");
  if (requested->domain != current) {
    if (const VlAudioDevice* other = audio_device_in_other_domain(device, requested->domain))
      return VLIPC_FAIL(EEXIST, "Can't change PTP domain, as long as there is an audio device in another domain: %s",
                        other->name);
    VL_LOG(vl_log_general(), VL_LOG_INFO, "Processing request for changing PTP domain from %i to %i!", current,
           requested->domain);
  }
  if (!serving || !serving->set_ptp_properties(*requested))
    return VLIPC_FAIL(ENXIO, "Could not write ptp configuration!");
  return json_object();
}

json_t* vl_ptp_get_status_request(VlDevice* device, json_t*) {
  VlJsonRef status;
  {
    VlLock lock(device->ptp_lock);
    status.reset(vl_ptp_status_encode(&device->ptp_status));
  }
  return json_pack("{s:o}", key(VL_KEY_PTP_STATUS), status ? status.release() : json_object());
}

void vlipc_ptp_register() {
  vl_ipc_register_handler(VL_IPC_CMD_PTP_CONFIG_SET, vl_ptp_set_config_request);
  vl_ipc_register_handler(VL_IPC_CMD_PTP_STATUS_GET, vl_ptp_get_status_request);
}
