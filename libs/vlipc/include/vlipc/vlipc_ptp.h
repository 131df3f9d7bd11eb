// Commands 20 and 21: a client configures the PTP interface that serves the
// current domain and reads the PTP status the poller keeps in the device.
#pragma once

#include "vlipc/vl_ipc_srv.h"

// {"ptp_configuration": properties} -> {}. A change of domain is refused
// while a reserved audio device's "ptpDomain" names another one.
json_t* vl_ptp_set_config_request(VlDevice* device, json_t* parameter);
// Any parameter -> {"ptp_status": status}.
json_t* vl_ptp_get_status_request(VlDevice* device, json_t* parameter);

// Registers both handlers with the server's command table.
void vlipc_ptp_register();
