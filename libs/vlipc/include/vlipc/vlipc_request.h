// What the command handlers share: reading the keys of a request's
// parameter (names from the key table), and refusing a request with one
// error on the calling thread's list, the whole list being the response.
#pragma once

#include "vlutil/vl_error.h"
#include "vlutil/vl_json.h"

#include <jansson.h>

// Error types of the command handlers beside the errno values they use
// (EINVAL a parameter that fails its check or names nothing, EIO a failed
// operation, EOPNOTSUPP an unknown stream type).
enum : int {
  VL_IPC_ERR_MAP_SIZE = 211,  // a channel map that does not fit its stream
};

// Adds the error where it is raised and yields the error array.
#define VL_IPC_REFUSE(code, ...) (VL_ERROR_ADD((code), __VA_ARGS__), vl_error_encode())

inline const char* vlipc_key(vl_json_key_index index) { return vl_json_keys[index].name; }
inline json_t* vlipc_member(const json_t* parameter, vl_json_key_index index) {
  return json_object_get(parameter, vlipc_key(index));
}
inline json_int_t vlipc_integer(const json_t* parameter, vl_json_key_index index) {
  return json_integer_value(vlipc_member(parameter, index));
}
inline const char* vlipc_text(const json_t* parameter, vl_json_key_index index) {
  return json_string_value(vlipc_member(parameter, index));
}
