// The audio devices the media drivers offer, and their reservation: a
// reserved device owns the driver instance made for it by type name.
//
// Threads and ownership: the device (vl_device.h) owns the list, newest
// first, and guards its links with its audio list lock; records are added at
// start-up and removed when the device is destroyed, so lookups take no lock.
// Reservation, release and channel names run on the IPC server thread, one
// command at a time, and during configuration load; they are not locked
// against each other. A record owns its driver instance while reserved, a
// reference on each of its JSON values, and the records behind it.
#pragma once

#include "vl/vl_capture_ifc.h"
#include "vl/vl_mediadrv.h"
#include "vl/vl_play_ifc.h"
#include "vlutil/vl_json_ref.h"

#include <jansson.h>

#include <cstddef>
#include <cstdint>
#include <memory>

class VlDevice;

inline constexpr std::size_t vl_audio_name_size = 127;
// Default channel names are made for at most this many channels: counts
// reach a client from its peer.
inline constexpr int vl_audio_max_channels = 1024;

struct VlAudioDevice {
  char name[vl_audio_name_size] = {};         // unique within the device
  char driver_type[vl_audio_name_size] = {};  // type name of the driver class that offered it
  std::unique_ptr<VlMediadrvAudio> driver;    // while reserved
  VlJsonRef properties;                       // as the driver reported them
  VlJsonRef configuration;                    // given at reservation; empty while idle
  VlJsonRef capture_names;                    // array of strings
  VlJsonRef playback_names;
  std::unique_ptr<VlAudioDevice> next;
};

// A new idle record (properties referenced, or a new empty object), with the
// default channel names; null without a name or when allocation fails.
VlAudioDevice* vl_audio_device_ctor(const char* name, const json_t* properties);
// Destroys the record and every record behind it.
void vl_audio_device_dtor(VlAudioDevice* record);

// Reserves: makes the driver from {"typename", "devicename", "configuration"}.
// A reserved record is returned unchanged. Null on failure (the record stays
// idle).
VlAudioDevice* vl_audio_device_lock(VlAudioDevice* record, json_t* configuration);
// Destroys the driver instance; nothing for an idle record or null.
void vl_audio_device_unlock(VlAudioDevice* record);

// The driver's interfaces; null for null, an idle record, or a driver
// without that direction.
VlCaptureIfc* vl_audio_capture_ifc(VlAudioDevice* record);
VlPlayIfc* vl_audio_play_ifc(VlAudioDevice* record);

// Replace the names element by element: extra names are ignored, missing
// ones keep the old names. 0, or -1 for a null record.
int vl_audio_device_capture_channels_set(VlAudioDevice* record, const json_t* names);
int vl_audio_device_playback_channels_set(VlAudioDevice* record, const json_t* names);
// The names array with a new reference for the caller.
json_t* vl_audio_device_capture_channels(const VlAudioDevice* record);
json_t* vl_audio_device_playback_channels(const VlAudioDevice* record);

// {"audio_device_name", "audio_properties", "audio_config", "audio_captid",
// "audio_playid"} with copies of the values; an empty object for null.
json_t* vl_audio_device_encode(const VlAudioDevice* record);
// Array of the records in list order.
json_t* vl_audio_device_list_encode(const VlAudioDevice* list);
// Client side, without driver instances. Null (errno EINVAL) for an empty
// object; the list comes out in reverse array order.
VlAudioDevice* vl_audio_device_decode(const json_t* json);
VlAudioDevice* vl_audio_device_list_decode(const json_t* json);

// Restores the reservations and channel names of a saved audio device list.
// Returns 0.
int vl_audio_device_load(VlDevice* device, const json_t* json_array);

// Renames a saved audio device of the board family to its name on this
// platform variant (vl_platform_get).
void convert_audio_device_name(json_t* json_audio_device);
// The same for a given platform variant.
void convert_audio_device_name_for_variant(json_t* json_audio_device, uint32_t variant);
