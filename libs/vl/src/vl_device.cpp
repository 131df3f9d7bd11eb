#include "vl/vl_device.h"

#include <new>

VlDevice* vl_device_ctor(const json_t*) {
  auto* device = new (std::nothrow) VlDevice;
  if (!device) return nullptr;
  if (!vl_mutex_ctor(&device->ptp_lock)) {
    delete device;
    return nullptr;
  }
  return device;
}

void vl_device_dtor(VlDevice* device) {
  if (!device) return;
  vl_mutex_dtor(&device->ptp_lock);
  delete device;
}

void vl_device_resync_streams(VlDevice*) {
  // The device holds no sessions yet; their managers are asked here once it does.
}
