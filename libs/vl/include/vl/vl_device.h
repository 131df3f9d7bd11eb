// The device object: root of the daemon's state from start-up to shutdown.
#pragma once

#include <jansson.h>

class VlDevice {
 public:
  VlDevice() = default;
  VlDevice(const VlDevice&) = delete;
  VlDevice& operator=(const VlDevice&) = delete;
};

// A new device from saved state (null: defaults), or null.
VlDevice* vl_device_ctor(const json_t* saved);
void vl_device_dtor(VlDevice* device);
