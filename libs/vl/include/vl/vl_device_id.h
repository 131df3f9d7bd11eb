// The identity of a device: vendor, product, serial number and platform.
// Built once by the device and only read afterwards; reported to clients and
// compared with a configuration's identity on load.
#pragma once

#include "vlsys/host_platform.h"

#include <jansson.h>

struct VlDeviceId {
  char vendor[vl_identity_text_size];
  char product[vl_identity_text_size];
  char serial[vl_identity_text_size];
  VlPlatform platform;
};

// Null strings take their defaults, a null platform this build's. Null for
// an unknown platform type (or when allocation fails).
VlDeviceId* vl_device_id_ctor(const char* vendor, const char* product, const char* serial,
                              const VlPlatform* platform);
void vl_device_id_dtor(VlDeviceId* id);

const char* vl_device_id_vendor(const VlDeviceId* id);
const char* vl_device_id_product(const VlDeviceId* id);
const char* vl_device_id_serial(const VlDeviceId* id);

// {"vendor_id", "device", "serial_number", "device_type", "device_variant"};
// an empty object for null.
json_t* vl_device_id_encode(const VlDeviceId* id);
// A new identity, or null (errno EINVAL for a missing or empty object).
VlDeviceId* vl_device_id_decode(const json_t* json);

// True when the configuration's vendor and product are prefixes of the
// device's; serial number and platform do not count.
bool vl_device_is_equal(const VlDeviceId* config_id, const VlDeviceId* device_id);
