// Commands 18 and 19: a client lists the daemon's log categories with their
// priorities and sets the priority of one, creating it when it is new.
#pragma once

#include "vlipc/vl_ipc_srv.h"

// Highest priority a client may set: log4c's "not set", which hands the
// category back to its ancestors' priority.
inline constexpr int vl_ipc_log_priority_max = 900;

// {"log_category", "log_priority"} -> null. The priority's low 16 bits
// count; above vl_ipc_log_priority_max it is refused and nothing changes.
json_t* vl_log_set_priority_request(VlDevice* device, json_t* parameter);
// Any parameter -> {"log_category_list": {name: own priority, ...}}.
json_t* vl_log_get_categories_request(VlDevice* device, json_t* parameter);

// Registers both handlers with the server's command table.
void vlipc_log_register();
