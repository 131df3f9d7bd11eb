// The failure path every command handler shares: one error at the caller's
// source line, then the thread's error array as the handler's result.
#pragma once

#include "vlutil/vl_error.h"

#define VLIPC_FAIL(code, ...) (VL_ERROR_ADD((code), __VA_ARGS__), vl_error_encode())
