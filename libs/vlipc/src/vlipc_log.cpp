#include "vlipc/vlipc_log.h"

#include "vlipc_reply.h"
#include "vlsys/vl_log.h"
#include "vlutil/vl_json.h"
#include "vlutil/vl_json_ref.h"

#include <cerrno>
#include <cstdint>

namespace {

const char* key(vl_json_key_index index) { return vl_json_keys[index].name; }

}  // namespace

json_t* vl_log_set_priority_request(VlDevice*, json_t* parameter) {
  if (!vl_json_check(parameter, "vl_log_set_priority_request", 2, VL_KEY_LOG_CATEGORY, VL_KEY_LOG_PRIORITY))
    return VLIPC_FAIL(EINVAL, "Invalid parameter list for set log priority request!");
  const char* name = json_string_value(json_object_get(parameter, key(VL_KEY_LOG_CATEGORY)));
  const int priority =
      static_cast<uint16_t>(json_integer_value(json_object_get(parameter, key(VL_KEY_LOG_PRIORITY))));
  // Beyond "not set" log4c names only "unknown"; refusing before the lookup
  // creates no category.
  if (priority > vl_ipc_log_priority_max) return VLIPC_FAIL(EINVAL, "Invalid priority %i.", priority);
  log4c_category_t* category = vl_log_category(name);
  if (!category) return VLIPC_FAIL(EINVAL, "Could not find category %s.", name);
  log4c_category_set_priority(category, priority);
  VL_LOG(vl_log_general(), VL_LOG_DEBUG, "Log priority for category %s set to %d", name, priority);
  return json_null();
}

json_t* vl_log_get_categories_request(VlDevice*, json_t*) {
  VlJsonRef list(vl_log_get_category_list());
  return json_pack("{s:o}", key(VL_KEY_LOG_CATEGORY_LIST), list ? list.release() : json_object());
}

void vlipc_log_register() {
  vl_ipc_register_handler(VL_IPC_CMD_LOG_PRIORITY_SET, vl_log_set_priority_request);
  vl_ipc_register_handler(VL_IPC_CMD_LOG_CATEGORIES, vl_log_get_categories_request);
}
