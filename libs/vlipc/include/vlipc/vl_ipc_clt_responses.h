// The client's response handlers: each brings the local device mirror in
// step with one kind of response. They run on the client's reader thread
// (see vl_ipc_clt.h), one at a time.
//
// Every handler takes the mirror slot (null inside before the first "init"
// response; only "init" replaces it) and the response's "parameter", and
// returns 0, or -1 when the response is not acceptable. Without a mirror
// there is nothing to keep in step, and the handlers accept a response
// without looking further. An error array (the daemon's failure) never
// reaches them: vl_ipc_response_handle takes it.
#pragma once

#include "vl/vl_device.h"

#include <jansson.h>

#include <cstdint>

using vl_ipc_response_handler = int (*)(VlDevice** mirror, const json_t* parameter);

// The handler of `command`'s responses; null outside 0 to 23.
vl_ipc_response_handler vl_ipc_response_handler_of(uint32_t command);

// Runs the handler of `command` (its number checked by the caller). An
// error array is written to the log and gives -1, for every command.
int vl_ipc_response_handle(uint32_t command, VlDevice** mirror, const json_t* parameter);

int vl_error_response(VlDevice** mirror, const json_t* parameter);
int vl_init_response(VlDevice** mirror, const json_t* parameter);
// "done", "save_config", "del_config", "audio_set_names", "audio_cfg",
// "log_priority_set", "ptp_config_set", "event_hdl_add", "event_hdl_del".
int vl_accept_response(VlDevice** mirror, const json_t* parameter);
int vl_load_response(VlDevice** mirror, const json_t* parameter);
int vl_session_add_response(VlDevice** mirror, const json_t* parameter);
int vl_session_del_response(VlDevice** mirror, const json_t* parameter);
int vl_session_info_response(VlDevice** mirror, const json_t* parameter);
// Each accepts only a response of its own stream type (1 sender, 2 receiver).
int vl_stream_add_snd_response(VlDevice** mirror, const json_t* parameter);
int vl_stream_add_rcv_response(VlDevice** mirror, const json_t* parameter);
int vl_stream_del_snd_response(VlDevice** mirror, const json_t* parameter);
int vl_stream_del_rcv_response(VlDevice** mirror, const json_t* parameter);
int vl_stream_change_response(VlDevice** mirror, const json_t* parameter);
int vl_audio_reserve_response(VlDevice** mirror, const json_t* parameter);
int vl_audio_release_response(VlDevice** mirror, const json_t* parameter);
int vl_log_get_categories_response(VlDevice** mirror, const json_t* parameter);
int vl_ptp_get_status_response(VlDevice** mirror, const json_t* parameter);
// Accepts a "sap_list" array.
int vl_sap_list_response(VlDevice** mirror, const json_t* parameter);
// The mirror's sender takes the announced state.
int vl_sap_set_response(VlDevice** mirror, const json_t* parameter);
