#include "vlipc/vlipc_sap.h"

#include "vl/vl_device.h"
#include "vl/vl_sap.h"
#include "vlipc/vlipc_request.h"
#include "vlipc/vlipc_session.h"

#include <cerrno>

json_t* vl_sap_list_request(VlDevice* device, json_t*) {
  json_t* list = vl_sap_list_encode(device);
  if (!list) return VL_IPC_REFUSE(ENOMEM, "Could not list the announced streams!");
  return json_pack("{s:o}", vlipc_key(VL_KEY_SAP_LIST), list);
}

json_t* vl_sap_set_request(VlDevice* device, json_t* parameter) {
  if (!vl_json_check(parameter, "vl_sap_set_request", 2, VL_KEY_SESSION_ID, VL_KEY_STREAM_SAP))
    return VL_IPC_REFUSE(EINVAL, "Invalid parameter for SAP announcement command!");
  VlSession* session = vlipc_session_of(device, parameter);
  if (!session) return VL_IPC_REFUSE(EINVAL, "Could not find session.");
  const bool enabled = vlipc_integer(parameter, VL_KEY_STREAM_SAP) != 0;
  if (vl_sap_set_enabled(session, enabled) != 0) return VL_IPC_REFUSE(EIO, "The session has no sender stream!");
  return json_pack("{s:o, s:i}", vlipc_key(VL_KEY_SESSION_ID), vl_session_id_encode(session->id),
                   vlipc_key(VL_KEY_STREAM_SAP), enabled ? 1 : 0);
}

void vlipc_sap_register() {
  vl_ipc_register_handler(VL_IPC_CMD_SAP_LIST, vl_sap_list_request);
  vl_ipc_register_handler(VL_IPC_CMD_SAP_SET, vl_sap_set_request);
}
