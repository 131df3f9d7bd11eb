// Commands 6 to 8: sessions are created, deleted and listed with their
// RTCP statistics.
#pragma once

#include "vlipc/vl_ipc_srv.h"

class VlSession;

// {"session_addr", "session_port", "network_interface_name"} -> the session
// description. An existing session on that interface is reused.
json_t* vl_session_add_request(VlDevice* device, json_t* parameter);
// {"session_id"} -> {"session_id"} of the deleted session.
json_t* vl_session_del_request(VlDevice* device, json_t* parameter);
// Any parameter -> {"session_info_list": [{"session_id",
// "session_sender_info", "session_receiver_info"}...]} in list order.
json_t* vl_session_info_request(VlDevice* device, json_t* parameter);

// The session that the parameter's "session_id" names, or null.
VlSession* vlipc_session_of(VlDevice* device, const json_t* parameter);

// Registers the three handlers with the server's command table.
void vlipc_session_register();
