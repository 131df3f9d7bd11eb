#include "vl/vl_device.h"

#include "vlsys/vl_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

constexpr std::size_t error_text_size = 256;

// The vendor file's fields when it can be read (empty ones stay empty),
// otherwise the defaults.
VlDeviceId* make_identity() {
  VlVendorInfo vendor{};
  if (vl_get_vendor_info(&vendor) == 0) return vl_device_id_ctor(vendor.vendor, vendor.product, vendor.serial, nullptr);
  return vl_device_id_ctor(nullptr, nullptr, nullptr, nullptr);
}

void append_devices(void* array, const VlTypeDescriptor* descriptor, int) {
  if (vl_mediadrv_devicelist_fn devicelist = vl_mediadrv_audio_devicelist(descriptor))
    devicelist(static_cast<json_t*>(array));
}

// A record for one entry of a driver's device list, or null.
VlAudioDevice* make_audio_device(const json_t* entry) {
  const char* name = json_string_value(json_object_get(entry, "devicename"));
  const json_t* properties = json_object_get(entry, "properties");
  VlAudioDevice* record = vl_audio_device_ctor(name, json_is_object(properties) ? properties : nullptr);
  if (!record) {
    char err[error_text_size];
    VL_LOG(vl_log_general(), VL_LOG_FATAL, "Error %s: vl_device_audio_init() for VlAudioDevice \"%s\" failed.",
           vl_strerror(errno, err, sizeof err), name ? name : "");
    return nullptr;
  }
  VL_LOG(vl_log_general(), VL_LOG_INFO, "vl_device_audio_init() for VlAudioDevice \"%s\" succeeded.", name);
  const char* type_name = json_string_value(json_object_get(entry, "typename"));
  std::snprintf(record->driver_type, sizeof record->driver_type, "%s", type_name ? type_name : "");
  return record;
}

}  // namespace

VlDevice* vl_device_ctor(const json_t*) {
  std::unique_ptr<VlDevice> device(new (std::nothrow) VlDevice);
  if (!device) {
    char err[error_text_size];
    VL_LOG(vl_log_general(), VL_LOG_FATAL, "Could not allocate vl_device: %s!", vl_strerror(ENOMEM, err, sizeof err));
    return nullptr;
  }
  device->version.reset(vl_version_ctor(-1, -1, nullptr));
  device->id.reset(make_identity());
  if (!device->version || !device->id || !device->ptp_lock.made() || !device->audio_lock.made()) return nullptr;
  return device.release();
}

void vl_device_dtor(VlDevice* device) {
  if (!device) return;
  // The sessions, which use the audio devices and the interfaces' managers,
  // are to be deleted before these.
  vl_device_audio_done(device);
  delete device;
  VL_LOG(vl_log_general(), VL_LOG_INFO, "device deleted");
}

void vl_device_resync_streams(VlDevice* device) {
  if (!device) return;
  for (VlNetworkInterface* node = device->interfaces.get(); node; node = node->next.get()) {
    if (node->send_manager) vl_sendmgr_resync_all(node->send_manager);
    if (node->recv_manager) vl_recvmgr_resync_all(node->recv_manager);
  }
}

int vl_device_audio_init(VlDevice* device) {
  if (!device) {
    errno = EFAULT;
    return -1;
  }
  const VlJsonRef list(json_array());
  if (!list) return -1;
  vl_object_iterate(append_devices, list.get());
  if (json_array_size(list.get()) == 0) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Could not find any audio device!");
    return -1;
  }
  std::size_t index = 0;
  json_t* entry = nullptr;
  json_array_foreach(list.get(), index, entry) {
    std::unique_ptr<VlAudioDevice> record(make_audio_device(entry));
    if (!record) return -1;
    VlLock lock(device->audio_lock);
    record->next = std::move(device->audio_devices);
    device->audio_devices = std::move(record);
  }
  return 0;
}

void vl_device_audio_done(VlDevice* device) {
  if (!device) return;
  VL_LOG(vl_log_general(), VL_LOG_INFO, "releasing audio devices");
  for (;;) {
    std::unique_ptr<VlAudioDevice> record;
    {
      VlLock lock(device->audio_lock);
      if (!device->audio_devices) return;
      record = std::move(device->audio_devices);
      device->audio_devices = std::move(record->next);
    }
    vl_audio_device_unlock(record.get());
  }
}

VlAudioDevice* vl_device_audio_find(VlDevice* device, const char* name) {
  if (!device || !name) return nullptr;
  for (VlAudioDevice* record = device->audio_devices.get(); record; record = record->next.get())
    if (std::strncmp(record->name, name, vl_audio_name_size - 1) == 0) return record;
  return nullptr;
}
