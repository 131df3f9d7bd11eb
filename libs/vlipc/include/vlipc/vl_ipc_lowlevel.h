// The control listener: one TCP listening socket and the server thread
// "ipc_svc_handler", which accepts one client at a time and reads and
// dispatches its frames itself.
//
// Threads and ownership: vl_ipc_start and vl_ipc_stop are called by one
// controlling thread. The server thread owns the listening socket and the
// served connection's socket and is the only one that destroys them. It
// waits for clients on the listening socket and a wake-up descriptor;
// vl_ipc_stop writes the wake-up descriptor, shuts the served connection
// down (its blocking read returns) and joins the thread. Other threads may
// write frames to the served connection at any time (event pushes): the
// connection record lives as long as the process, so its locks are always
// valid, and a frame written while no client is served is dropped.
#pragma once

#include "vlutil/vl_ipc.h"

#include <cstdint>

// Binds address:port (port 0: any free port) and starts the server thread,
// which hands every frame to `callback`. 0 (also when already running), or -1.
int vl_ipc_start(const char* address, uint16_t port, vl_ipc_callback callback);
// Ends the served connection and the server thread; nothing when stopped.
void vl_ipc_stop();
// The port the listener is bound to; 0 when stopped.
uint16_t vl_ipc_bound_port();
// The connection of the client being served (without a socket while none is).
vl_ipc_connection* vl_ipc_served_connection();

// Body of the server thread.
void* ipc_svc_handler(void* unused);
