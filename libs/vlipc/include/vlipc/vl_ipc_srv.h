// The control server on TCP port 42538: requests are decoded as JSON and
// dispatched by command number to the handler registered for it; the
// handler's result goes back as the response. Errors raised while a request
// is handled travel back as the parameter of an error response (command 0).
// Events for which a client registered a handler are pushed to it.
//
// Threads and ownership: start and stop are called by one controlling
// thread. Handlers run on the server thread (see vl_ipc_lowlevel), one at a
// time, with the device-wide control lock held. vl_ipc_push_event runs on
// the event system's publisher threads; the served connection's write lock
// keeps its frames whole among the responses. The handler table may be
// changed at any time; each entry is read once per request.
#pragma once

#include "vlipc/vl_ipc_commands.h"
#include "vlsys/vl_mutex.h"

#include <jansson.h>

#include <cstddef>
#include <cstdint>

class VlDevice;

inline constexpr uint16_t vl_ipc_port = 42538;
inline constexpr const char* vl_ipc_any_address = "0.0.0.0";
// Errors of frames that get no answer wait for the next error response;
// beyond this many the oldest are logged and dropped.
inline constexpr std::size_t vl_ipc_error_backlog = 64;

// Error types of the dispatcher.
enum : int {
  VL_IPC_ERR_NOT_JSON = 202,
  VL_IPC_ERR_BAD_COMMAND = 207,
  VL_IPC_ERR_NO_PARAMETER = 208,
  VL_IPC_ERR_BAD_MESSAGE = 210,
};

// Takes the device and the request's "parameter" (borrowed) and returns a
// new reference: the result, JSON null when there is none, or the thread's
// error array (vl_error_encode) on failure.
using vl_ipc_request_handler = json_t* (*)(VlDevice* device, json_t* parameter);

// Makes `handler` answer command `command` (1 to 23); null removes it, and
// the command is then answered like an unknown one. 0, or -1 (EINVAL).
int vl_ipc_register_handler(uint32_t command, vl_ipc_request_handler handler);

// Starts the server for `device` on address:port. `control_lock` is held
// around every handler. 0 (also when already started), or -1 (EINVAL for
// a missing argument; a failing start is logged).
int vl_ipc_server_start(VlDevice* device, vl_mutex* control_lock, const char* address = vl_ipc_any_address,
                        uint16_t port = vl_ipc_port);
// Stops the server: returns once no handler runs and no client is served.
void vl_ipc_server_stop();

// Event handler callback for handlers registered on a client's behalf:
// sends the event to the client being served, or drops it when none is.
void vl_ipc_push_event(json_t* event);
