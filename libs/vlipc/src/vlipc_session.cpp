#include "vlipc/vlipc_session.h"

#include "vl/vl_device.h"
#include "vlipc/vlipc_request.h"
#include "vlutil/vl_json_ref.h"

#include <cerrno>

namespace {

json_t* session_info(VlSession* session) {
  return json_pack("{s:o, s:o, s:o}", vlipc_key(VL_KEY_SESSION_ID), vl_session_id_encode(session->id),
                   vlipc_key(VL_KEY_SESSION_SENDER_INFO), vl_stream_encode_info(session->sender),
                   vlipc_key(VL_KEY_SESSION_RECEIVER_INFO), vl_stream_encode_info(session->receivers));
}

}  // namespace

VlSession* vlipc_session_of(VlDevice* device, const json_t* parameter) {
  VlSessionId id{};
  if (!vl_session_id_decode(vlipc_member(parameter, VL_KEY_SESSION_ID), &id)) return nullptr;
  return vl_device_find_session(device, id);
}

json_t* vl_session_add_request(VlDevice* device, json_t* parameter) {
  if (!vl_json_check(parameter, "vl_session_add_request", 3, VL_KEY_SESSION_ADDR, VL_KEY_SESSION_PORT,
                     VL_KEY_NETWORK_INTERFACE_NAME))
    return VL_IPC_REFUSE(EINVAL, "Invalid parameter for add session command!");
  // The device refuses an identity it could not keep whole (a port beyond
  // 16 bits, an address beyond 15 characters) rather than cut it.
  VlSession* session =
      vl_device_add_session(device, vlipc_text(parameter, VL_KEY_NETWORK_INTERFACE_NAME),
                            vlipc_text(parameter, VL_KEY_SESSION_ADDR), vlipc_integer(parameter, VL_KEY_SESSION_PORT));
  if (!session) return VL_IPC_REFUSE(EIO, "Could not create new session!");
  return vl_session_encode(session);
}

json_t* vl_session_del_request(VlDevice* device, json_t* parameter) {
  if (!vl_json_check(parameter, "vl_session_del_request", 1, VL_KEY_SESSION_ID))
    return VL_IPC_REFUSE(EINVAL, "Invalid parameter for delete session command!");
  VlSession* session = vlipc_session_of(device, parameter);
  if (!session) return VL_IPC_REFUSE(EINVAL, "Could not find session.");
  json_t* result = json_pack("{s:o}", vlipc_key(VL_KEY_SESSION_ID), vl_session_id_encode(session->id));
  vl_device_del_session(device, session);
  return result;
}

json_t* vl_session_info_request(VlDevice* device, json_t*) {
  VlJsonRef list(json_array());
  {
    VlLock lock(device->session_lock);
    for (VlSession* session = device->sessions.get(); session; session = session->next.get())
      json_array_append_new(list.get(), session_info(session));
  }
  return json_pack("{s:o}", vlipc_key(VL_KEY_SESSION_INFO_LIST), list.release());
}

void vlipc_session_register() {
  vl_ipc_register_handler(VL_IPC_CMD_SESSION_NEW, vl_session_add_request);
  vl_ipc_register_handler(VL_IPC_CMD_SESSION_DEL, vl_session_del_request);
  vl_ipc_register_handler(VL_IPC_CMD_SESSION_INFO, vl_session_info_request);
}
