// Commands 1 to 5: the device description, good-bye, and the saved
// configuration with the clients' own stored settings.
#pragma once

#include "vlipc/vl_ipc_srv.h"

// The file every save writes and the daemon loads at start-up.
inline constexpr const char* vl_ipc_configuration_file = "velanto.cfg";
// The client configuration name that stands for the configuration file.
inline constexpr const char* vl_ipc_whole_configuration = "*";
// The attributes of a reserved driver are read from id 1 up to the first
// without a value, at most this many.
inline constexpr int vl_ipc_max_driver_attributes = 16;

// Any parameter -> the device description. A reserved audio device whose
// driver reports attributes (the ramp analyzer's findings, say) carries
// them as "audio_attributes", an array whose element i is attribute i + 1.
json_t* vl_init_request(VlDevice* device, json_t* parameter);
// Any parameter -> null.
json_t* vl_done_request(VlDevice* device, json_t* parameter);
// {"vl_clt_config_file", "vl_clt_config"} -> null. Stores a non-empty
// object under its name (except the name "*"), then writes the
// configuration file; a failed write is refused.
json_t* vl_save_request(VlDevice* device, json_t* parameter);
// {"vl_clt_config_file"} -> {"vl_clt_config"} stored under that name.
json_t* vl_load_request(VlDevice* device, json_t* parameter);
// {"vl_clt_config_file"} -> null. "*" deletes the configuration file (the
// next save writes it whatever it holds); another name forgets that entry.
json_t* vl_del_request(VlDevice* device, json_t* parameter);

// Registers the five handlers with the server's command table.
void vlipc_init_register();
