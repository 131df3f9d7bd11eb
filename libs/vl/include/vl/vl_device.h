// The device object: root of the daemon's state from start-up to shutdown.
//
// Threads and ownership: the main thread constructs and destroys the device.
// It owns its version and identity records, the network interface list
// (built at start-up, then only read), the audio device list and the PTP
// status record. ptp_lock guards ptp_status against the PTP poll thread;
// audio_lock guards the links of the audio device list. No path holds two
// of the device's locks at once.
#pragma once

#include "vl/vl_audio_device.h"
#include "vl/vl_device_id.h"
#include "vl/vl_net.h"
#include "vl/vl_ptp_status.h"
#include "vlsys/vl_mutex.h"
#include "vlutil/vl_version.h"

#include <jansson.h>

#include <memory>

struct VlVersionDeleter {
  void operator()(VlVersion* version) const { vl_version_dtor(version); }
};

// Members go in reverse order: the audio devices, the PTP status, the
// interfaces with their managers, then identity and version.
class VlDevice {
 public:
  VlDevice() = default;
  VlDevice(const VlDevice&) = delete;
  VlDevice& operator=(const VlDevice&) = delete;

  std::unique_ptr<VlVersion, VlVersionDeleter> version;
  std::unique_ptr<VlDeviceId> id;
  std::unique_ptr<VlNetworkInterface> interfaces;

  // Written by the PTP poller, read by the PTP commands, under ptp_lock.
  VlOwnedMutex ptp_lock;
  VlPtpStatus ptp_status{};

  // Newest first; links change under audio_lock.
  VlOwnedMutex audio_lock;
  std::unique_ptr<VlAudioDevice> audio_devices;

  // The session list and its lock, and the clients' "additional" store,
  // follow here.
};

// A new device with the current version and this host's identity (from
// the vendor file, else the defaults), or null. `saved` is not read yet.
VlDevice* vl_device_ctor(const json_t* saved);
// Releases everything the device owns, then the device.
void vl_device_dtor(VlDevice* device);

// Asks the send and receive managers of every network interface to
// resynchronise their streams (after PTP synchronisation was gained).
void vl_device_resync_streams(VlDevice* device);

// Builds the audio device list from the devicelist of every registered
// driver class. 0, or -1 when there is no device or a record cannot be made.
int vl_device_audio_init(VlDevice* device);
// Releases and destroys every audio device.
void vl_device_audio_done(VlDevice* device);
// The audio device named `name`, or null. Takes no lock.
VlAudioDevice* vl_device_audio_find(VlDevice* device, const char* name);
