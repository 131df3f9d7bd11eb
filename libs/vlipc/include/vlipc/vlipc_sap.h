// Commands 24 and 25: the streams that SAP announcements offer, and
// whether a sender of this device is announced.
#pragma once

#include "vlipc/vl_ipc_srv.h"

// Any parameter -> {"sap_list": [entries]} (keys in sap/sap_entry.h),
// oldest first.
json_t* vl_sap_list_request(VlDevice* device, json_t* parameter);
// {"session_id", "stream_sap": 0 or 1} -> the same, once the session's
// sender is announced (1) or withdrawn (0). The choice is saved with the
// sender.
json_t* vl_sap_set_request(VlDevice* device, json_t* parameter);

// Registers both handlers with the server's command table.
void vlipc_sap_register();
