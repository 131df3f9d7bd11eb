// Framing of the control protocol and the connection record shared by the
// server and the client. A frame is the text header "<version>,<type>,
// <length>:" followed by exactly <length> body bytes, the last one NUL.
//
// Threads and ownership: one thread owns a connection's socket (the server
// thread for a served client, the reader thread "ipc_msg_handler" on the
// client side); only it reads, and only it destroys the socket, under both
// of the connection's locks. Any thread may write a frame: `write_lock`
// keeps frames whole and keeps the socket alive while one is written.
// Another thread that must end the connection shuts the socket down under
// `socket_lock` (it is never held while blocking), which wakes the owner's
// blocking read and any blocked write; the owner then cleans up. Whoever
// allocated the record frees it after the owning thread is done with it.
#pragma once

#include "vlsys/vl_mutex.h"
#include "vlsys/vl_socket.h"
#include "vlsys/vl_thread.h"
#include "vlutil/vl_error.h"

#include <log4c.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

inline constexpr uint32_t vl_ipc_version = 1;

enum : uint32_t {
  VL_IPC_REQUEST = 0,
  VL_IPC_RESPONSE = 1,
  VL_IPC_EVENT = 2,
};

// Header bytes read at most while looking for the colon.
inline constexpr std::size_t vl_ipc_header_size = 32;
// Largest body accepted. The stream cannot be resynchronised after a longer
// header, so such a frame ends the connection.
inline constexpr uint32_t vl_ipc_max_length = 16u * 1024 * 1024;

struct vl_ipc_message {
  uint32_t version;
  uint32_t type;
  uint32_t length;   // body bytes including the terminating NUL
  const char* body;  // valid for the callback only
};

struct vl_ipc_connection;
// Called for every complete, well-formed frame; the result is not used.
using vl_ipc_callback = void (*)(vl_ipc_connection* connection, const vl_ipc_message* message);
// Client side: called by the reader thread as its last act, after the
// connection's socket is gone; the record stays valid until vl_ipc_close.
using vl_ipc_end_callback = void (*)(vl_ipc_connection* connection);

struct vl_ipc_connection {
  vl_socket* socket = nullptr;  // none once closed; changed only under both locks
  VlError* error = nullptr;     // errors collected for the next reply
  log4c_category_t* category = nullptr;
  vl_thread reader{};  // client side only
  vl_ipc_callback callback = nullptr;
  vl_ipc_end_callback on_end = nullptr;  // client side only
  vl_mutex write_lock = {PTHREAD_MUTEX_INITIALIZER};
  vl_mutex socket_lock = {PTHREAD_MUTEX_INITIALIZER};
  // Set by whoever ends the connection on purpose: the read failure that
  // follows is then expected, not an error.
  std::atomic<bool> closing{false};
};

// Reads one frame and hands it to the callback. 0 when the connection may
// go on (also after a bad header, an empty or an unterminated body), -1
// when it is finished; the socket is then destroyed.
int vl_ipc_msg_handler(vl_ipc_connection* connection);

// Writes one whole frame. 0, or -1 (errno EINVAL without a connection).
int vl_ipc_send_message(vl_ipc_connection* connection, const vl_ipc_message* message);
// The same for messages nobody waits for (events): a connection without a
// socket drops the message silently and the result is 1.
int vl_ipc_send_if_connected(vl_ipc_connection* connection, const vl_ipc_message* message);

// Client side: connects to address:port and starts the reader thread, which
// calls `on_end` (when given) once the connection has ended. A connection
// not made within `connect_timeout_ms` (0: the system's limit) fails with
// ETIMEDOUT. A new record (free it with vl_ipc_close), or null with errno.
vl_ipc_connection* vl_ipc_connect(const char* address_text, uint16_t port, vl_ipc_callback callback,
                                  vl_ipc_end_callback on_end = nullptr, uint32_t connect_timeout_ms = 0);
// Client side: ends the connection, joins the reader thread, frees the record.
void vl_ipc_close(vl_ipc_connection* connection);
// Body of the client's reader thread.
void* ipc_msg_handler(void* connection);

// Destroys the connection's socket and its error list (called by the
// owning thread when the connection ends).
void vl_ipc_cleanup(vl_ipc_connection* connection);
// Ends the connection from any thread without freeing anything: the
// owner's blocking read returns and the owner cleans up.
void vl_ipc_shutdown(vl_ipc_connection* connection);

// Parses exactly `count` comma-separated decimal numbers, each fitting 32
// bits, filling all of `text[0, length)`: no sign, blank or other byte.
bool vl_ipc_parse_numbers(const char* text, std::size_t length, uint32_t* values, std::size_t count);
