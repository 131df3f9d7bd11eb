// The process-wide set-up a device needs, as start-up makes it, without the
// real audio driver and without boosting the process: the PTP registry with
// the system-clock reference, the test generators and analyzers as audio
// device classes, the software RTP engine's hooks and the RTCP hooks. Only
// one may live at a time.
//
//   vltest::MediaPlatform platform;
//   VlDevice* device = vltest::make_device("veth0");  // in the interface's namespace
//   ...
//   vl_device_dtor(device);                           // before the platform goes
#pragma once

#include "vl/vl_device.h"

namespace vltest {

class MediaPlatform {
 public:
  MediaPlatform();
  ~MediaPlatform();
  MediaPlatform(const MediaPlatform&) = delete;
  MediaPlatform& operator=(const MediaPlatform&) = delete;
};

// A device that streams on `interface_name` (null: the first interface the
// calling thread's namespace lists) with its audio devices listed; null on
// failure.
VlDevice* make_device(const char* interface_name);

}  // namespace vltest
