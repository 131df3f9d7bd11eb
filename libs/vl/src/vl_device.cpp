#include "vl/vl_device.h"

#include <new>

VlDevice* vl_device_ctor(const json_t*) { return new (std::nothrow) VlDevice; }

void vl_device_dtor(VlDevice* device) { delete device; }
