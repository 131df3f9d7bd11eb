// The client library of the control protocol: one connection to the daemon
// at "VELANTO_IPC_SRV_ADDR" (default 127.0.0.1) on port 42538, one request
// at a time, a local mirror of the daemon's device kept from the responses,
// and the daemon's events republished in this process as id + 200.
//
//   vl_ipc_client_connect();
//   vl_ipc_client_send(VL_IPC_CMD_INIT, nullptr);        // builds the mirror
//   VlDevice* device = vl_ipc_client_mirror();
//   vl_ipc_client_close();
//
// Threads and ownership: the library owns the client record from connect
// to close; connect and close are called by one controlling thread, never
// while a request runs. Requests may come from any thread: the request
// lock lets one through at a time. The reader thread "ipc_msg_handler" runs
// the response handlers (the only writers of the mirror and of the two
// result texts) and republishes events. A request waits for its response,
// for the end of the reader (ENOTCONN) or for the time limit (ETIMEDOUT). A
// request that timed out ends the connection, since a late answer could no
// longer be told from the next one, and returns only after the reader has
// finished; so no handler runs while no request waits, and the mirror and
// the result texts may be read between requests. Close shuts the
// connection down and joins the reader.
#pragma once

#include "vl/vl_device.h"
#include "vlipc/vl_ipc_commands.h"
#include "vlutil/vl_json_ref.h"

#include <jansson.h>

#include <cstdint>
#include <string>

inline constexpr const char* vl_ipc_client_address_env = "VELANTO_IPC_SRV_ADDR";
inline constexpr const char* vl_ipc_client_default_address = "127.0.0.1";
inline constexpr uint32_t vl_ipc_client_default_timeout_ms = 10000;

struct VlIpcClient;

// The connected client (the existing one when already connected), or null
// with errno (ETIMEDOUT when the daemon did not accept within the limit).
VlIpcClient* vl_ipc_client_connect();
// Ends the connection, joins the reader and releases the record and mirror.
void vl_ipc_client_close();

// Sends request `command` with `parameter` (borrowed; null sends JSON null)
// and waits for its response. 0 when the response was handled, -1 when not:
// errno ENOTCONN (no connection, or it was lost), ETIMEDOUT (no answer in
// time; the connection is then closed), EIO (the daemon reported an error,
// or the response was not acceptable).
int vl_ipc_client_send(uint32_t command, json_t* parameter);
// The same, and `response` receives the response's "parameter" as the
// daemon sent it (the error array of a failed request), or null when none
// arrived.
int vl_ipc_client_call(uint32_t command, json_t* parameter, VlJsonRef* response);

// The streams that other devices announce with SAP (command 24): `list`
// receives the "sap_list" array (keys in sap/sap_entry.h). 0 or -1 as
// vl_ipc_client_send.
int vl_ipc_client_sap_list(VlJsonRef* list);
// Switches announcing of the sender of session `address`:`port` on or off
// (command 25); the daemon keeps the choice with the sender.
int vl_ipc_client_sap_set(const char* address, uint16_t port, bool enabled);

// True while the client is connected and its reader runs.
bool vl_ipc_client_connected();

// The longest a request waits for its response, and a connection attempt
// for the daemon's accept.
void vl_ipc_client_set_timeout(uint32_t timeout_ms);
uint32_t vl_ipc_client_timeout();

// The local copy of the daemon's device from the last "init" response;
// null before one. Valid until the next request.
VlDevice* vl_ipc_client_mirror();

// Compact text of the last "load_config" result's "vl_clt_config", and the
// text of the last "log_categories" result's "log_category_list".
extern std::string velanto_meta_data;
extern std::string vllog_category_list;
