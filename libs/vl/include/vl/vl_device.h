// The device object: root of the daemon's state from start-up to shutdown.
//
// Threads and ownership: the main thread constructs and destroys the device.
// It owns its version and identity records, the network interface list
// (built at start-up, then only read), the audio device list, the PTP
// status record, the sessions and the clients' stored data. control_lock
// orders every change from outside (the configuration load, the IPC
// commands) and is taken before any other lock. ptp_lock guards ptp_status
// against the PTP poll thread; audio_lock and session_lock guard the links
// of their lists. No path holds two of ptp_lock, audio_lock and session_lock
// at once; a session's own locks come after session_lock (vl_session.h).
#pragma once

#include "sap/sap_directory.h"
#include "vl/vl_audio_device.h"
#include "vl/vl_device_id.h"
#include "vl/vl_net.h"
#include "vl/vl_ptp_status.h"
#include "vl/vl_sap.h"
#include "vl/vl_session.h"
#include "vlsys/vl_mutex.h"
#include "vlutil/vl_version.h"

#include <jansson.h>

#include <memory>
#include <string>

struct VlVersionDeleter {
  void operator()(VlVersion* version) const { vl_version_dtor(version); }
};

// Members go in reverse order: the sessions, the audio devices, the PTP
// status, SAP (after the senders whose announcements it holds), the
// interfaces with their managers, then identity and version.
class VlDevice {
 public:
  VlDevice() = default;
  VlDevice(const VlDevice&) = delete;
  VlDevice& operator=(const VlDevice&) = delete;

  std::unique_ptr<VlVersion, VlVersionDeleter> version;
  std::unique_ptr<VlDeviceId> id;
  std::unique_ptr<VlNetworkInterface> interfaces;

  // Made after the interface scan (vl_sap.h); null without SAP.
  std::unique_ptr<VlSapAnnouncer> sap_announcer;
  std::unique_ptr<VlSapDirectory> sap_directory;

  // Written by the PTP poller, read by the PTP commands, under ptp_lock.
  VlOwnedMutex ptp_lock;
  VlPtpStatus ptp_status{};

  // Newest first; links change under audio_lock.
  VlOwnedMutex audio_lock;
  std::unique_ptr<VlAudioDevice> audio_devices;

  // Newest first; links change under session_lock.
  VlOwnedMutex session_lock;
  std::unique_ptr<VlSession> sessions;

  // Orders every change from outside: the configuration load holds it for
  // the whole load, the IPC dispatcher around each command. Nothing on the
  // media path takes it.
  VlOwnedMutex control_lock;

  // Objects clients stored by name ("additional"); under control_lock.
  VlJsonRef additional;
  // Saved audio devices and sessions the last load could not restore, kept
  // unchanged for the next save; under control_lock.
  VlJsonRef kept_audio_devices;
  VlJsonRef kept_sessions;
  // The compact text of the last successful save; under control_lock.
  std::string last_saved_configuration;
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
// True when a sender or receiver of one of the device's sessions names the
// audio device `name`: its driver must stay while they run.
bool vl_device_audio_in_use(VlDevice* device, const char* name);

// {"vl_version", "device_id", "network_interface", "ptp_status",
// "audio_device_list", "session_list"}.
json_t* vl_device_encode(VlDevice* device);
// A client's copy of a device from its description: no managers, no drivers,
// no RTCP. Null (errno EINVAL for an empty object) on failure.
VlDevice* vl_device_decode(const json_t* json);

// The session of that identity, or null.
VlSession* vl_device_find_session(VlDevice* device, const VlSessionId& id);
// The session of that identity on the interface named `interface_name`:
// the existing one, or a new one with its RTCP endpoint when the interface
// streams. Null when the identity is not valid, the interface is unknown,
// the session exists on another interface, or RTCP cannot be set up.
VlSession* vl_device_add_session(VlDevice* device, const char* interface_name, const char* address, json_int_t port);
// Adds a session from its description, with detached streams (client side);
// 0 or -1.
int vl_device_decode_session(VlDevice* device, const json_t* json);
// Unlinks the session, releases its RTCP endpoint and destroys it.
void vl_device_del_session(VlDevice* device, VlSession* session);
// Deletes every session, always the first of the list.
void vl_device_del_sessions(VlDevice* device);
// Keeps a saved session that could not be restored for the next save.
void vl_device_keep_session(VlDevice* device, const json_t* saved);
