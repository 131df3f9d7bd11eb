#include "vlipc/vlipc_event.h"

#include "vlutil/vl_error.h"
#include "vlutil/vl_event.h"
#include "vlutil/vl_json.h"

#include <cerrno>

namespace {

// The client's event id, or 0 after adding the error for a reserved one.
uint32_t subscribable_id(const json_t* parameter, const char* low_text, const char* high_text) {
  const auto id = static_cast<uint32_t>(json_integer_value(json_object_get(parameter, "event_id")));
  if (id <= vl_ipc_event_offset) {
    VL_ERROR_ADD(EINVAL, "%s", low_text);
    return 0;
  }
  if (id >= vl_ipc_event_limit) {
    VL_ERROR_ADD(EINVAL, "%s", high_text);
    return 0;
  }
  return id;
}

int32_t daemon_event(uint32_t client_id) { return static_cast<int32_t>(client_id - vl_ipc_event_offset); }

const char* originator_of(const json_t* parameter) {
  return json_string_value(json_object_get(parameter, "event_originator"));
}

}  // namespace

json_t* vl_event_add_handler_request(VlDevice*, json_t* parameter) {
  if (!vl_json_check(parameter, "vl_event_add_handler_request", 3, VL_KEY_EVENT_ID, VL_KEY_EVENT_ORIGINATOR,
                     VL_KEY_EVENT_EXCLUSIVE)) {
    VL_ERROR_ADD(EINVAL, "Invalid parameter list for event add handler request!");
    return vl_error_encode();
  }
  const uint32_t id = subscribable_id(
      parameter, "Invalid event id to add handler for(reserved for local streamer events)!",
      "Invalid event id to add handler for(reserved for streamer specific communication)!");
  if (id == 0) return vl_error_encode();
  // Always exclusive: a second handler for the same pair would push every
  // event twice. An existing handler is success; any other refusal is not.
  const char* originator = originator_of(parameter);
  if (vl_event_hdl_register(daemon_event(id), originator, vl_ipc_push_event, true) != 0 && errno != EEXIST) {
    VL_ERROR_ADD(EIO, "Could not register event handler for event %u of %s!", id, originator);
    return vl_error_encode();
  }
  return json_object();
}

json_t* vl_event_del_handler_request(VlDevice*, json_t* parameter) {
  if (!vl_json_check(parameter, "vl_event_del_handler_request", 2, VL_KEY_EVENT_ID, VL_KEY_EVENT_ORIGINATOR)) {
    VL_ERROR_ADD(EINVAL, "Invalid parameter list for event del handler request!");
    return vl_error_encode();
  }
  const uint32_t id = subscribable_id(
      parameter, "Invalid event id to remove handler(reserved for local streamer events)!",
      "Invalid event id to remove handler (reserved for streamer specific communication)!");
  if (id == 0) return vl_error_encode();
  vl_event_hdl_unregister(daemon_event(id), originator_of(parameter));
  return json_object();
}

void vlipc_event_register() {
  vl_ipc_register_handler(VL_IPC_CMD_EVENT_HDL_ADD, vl_event_add_handler_request);
  vl_ipc_register_handler(VL_IPC_CMD_EVENT_HDL_DEL, vl_event_del_handler_request);
}
