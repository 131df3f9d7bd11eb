// Start-up and shutdown of the streamer around its one device object.
#pragma once

#include "vl/vl_device.h"

// Brings everything up for `interface_name` (null: the default choice) and
// returns the device, or null. Returns the running device when started.
VlDevice* vl_streamer_startup(const char* interface_name);

// Releases everything start-up created, if `device` is the started one.
void vl_streamer_shutdown(VlDevice* device);

// The configuration file `path` (in the configuration directory) into or
// from the device, under the device's control lock; 0 or negative.
int vl_streamer_load(VlDevice* device, const char* path);
int vl_streamer_save(VlDevice* device, const char* path);
