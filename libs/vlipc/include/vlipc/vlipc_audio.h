// Commands 14 to 17: a client reserves the device's audio devices with a
// configuration, names their channels and releases them again.
#pragma once

#include "vlipc/vl_ipc_srv.h"

// {"audio_device_name", "audio_config"} -> the audio device's description.
// A device that is reserved already keeps its driver and configuration.
json_t* vl_audio_reserve_request(VlDevice* device, json_t* parameter);
// {"audio_device_name", "audio_captid", "audio_playid"} -> null.
json_t* vl_audio_set_channel_names_request(VlDevice* device, json_t* parameter);
// Any parameter -> null; nothing is configured.
json_t* vl_audio_config_request(VlDevice* device, json_t* parameter);
// {"audio_device_name"} -> {"audio_device_name"}. Refused while a stream
// uses the device.
json_t* vl_audio_release_request(VlDevice* device, json_t* parameter);

// Registers the four handlers with the server's command table.
void vlipc_audio_register();
