// Commands 22 and 23: a client subscribes to daemon events, which are then
// pushed to it as event messages (vl_ipc_push_event). Client event ids 201
// to 399 stand for the daemon's events 1 to 199; the others are reserved.
#pragma once

#include "vlipc/vl_ipc_srv.h"

// Client ids at or below this are reserved for the daemon's local events;
// client id - offset is the daemon's event number.
inline constexpr uint32_t vl_ipc_event_offset = 200;
// Client ids from this on are reserved for daemon-specific communication.
inline constexpr uint32_t vl_ipc_event_limit = 400;

// {"event_id", "event_originator", "event_exclusive"} -> {}. One handler
// per event and originator: a repeated registration adds none.
json_t* vl_event_add_handler_request(VlDevice* device, json_t* parameter);
// {"event_id", "event_originator"} -> {}, also when there was no handler.
json_t* vl_event_del_handler_request(VlDevice* device, json_t* parameter);

// Registers both handlers with the server's command table.
void vlipc_event_register();
