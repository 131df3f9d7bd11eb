// The device object: root of the daemon's state from start-up to shutdown.
#pragma once

#include "vl/vl_ptp_status.h"
#include "vlsys/vl_mutex.h"

#include <jansson.h>

class VlDevice {
 public:
  VlDevice() = default;
  VlDevice(const VlDevice&) = delete;
  VlDevice& operator=(const VlDevice&) = delete;

  // Written by the PTP poller, read by the PTP commands, under ptp_lock.
  vl_mutex ptp_lock{};
  VlPtpStatus ptp_status{};
};

// A new device from saved state (null: defaults), or null.
VlDevice* vl_device_ctor(const json_t* saved);
void vl_device_dtor(VlDevice* device);

// Asks the send and receive managers of every session to resynchronise
// their streams (after PTP synchronisation was gained).
void vl_device_resync_streams(VlDevice* device);
