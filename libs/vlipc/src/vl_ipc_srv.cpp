#include "vlipc/vl_ipc_srv.h"

#include "vlipc/vl_ipc_lowlevel.h"
#include "vlsys/vl_log.h"
#include "vlutil/vl_error.h"
#include "vlutil/vl_json_ref.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

struct Server {
  bool started = false;  // controlling thread only
  VlDevice* device = nullptr;
  vl_mutex* control_lock = nullptr;
  log4c_category_t* category = nullptr;
};

Server server;
std::atomic<vl_ipc_request_handler> handlers[VL_IPC_CMD_COUNT] = {};

struct FreeText {
  void operator()(char* text) const { std::free(text); }
};
using Text = std::unique_ptr<char, FreeText>;

// Compact jansson text with its default separators, members in order.
Text dump(const json_t* json) { return Text(json_dumps(json, JSON_PRESERVE_ORDER)); }

vl_ipc_message message_of(uint32_t type, const Text& text) {
  return {vl_ipc_version, type, static_cast<uint32_t>(std::strlen(text.get()) + 1), text.get()};
}

// Sends {"command", "parameter"}; takes over `parameter`. The send result.
int send_response(vl_ipc_connection* connection, uint32_t command, json_t* parameter) {
  VlJsonRef owned(parameter ? parameter : json_null());
  VlJsonRef response(json_object());
  json_object_set_new(response.get(), "command", json_integer(command));
  json_object_set(response.get(), "parameter", owned.get());
  const Text text = dump(response.get());
  const char* name = vl_ipc_command_name(command);
  if (!text) {
    VL_LOG(server.category, VL_LOG_ERROR, "Could not create IPC message!");
    vl_error_backtrace(nullptr);
    return -1;
  }
  VL_LOG(server.category, VL_LOG_DEBUG, "IPC-Server sends %s;%s", name, text.get());
  const vl_ipc_message message = message_of(VL_IPC_RESPONSE, text);
  const int result = vl_ipc_send_message(connection, &message);
  if (result != 0) {
    VL_LOG(server.category, VL_LOG_ERROR, "Could not send IPC message: %s!", name);
    vl_error_backtrace(nullptr);
  }
  return result;
}

// Every error collected on this thread so far goes out with it.
void send_error_response(vl_ipc_connection* connection) {
  send_response(connection, VL_IPC_CMD_ERROR, vl_error_encode());
}

vl_ipc_request_handler handler_of(uint32_t command) {
  return command < VL_IPC_CMD_COUNT ? handlers[command].load() : nullptr;
}

json_t* run_handler(vl_ipc_request_handler handler, json_t* parameter) {
  VlLock lock(*server.control_lock);
  return handler(server.device, parameter);
}

void dispatch_request(vl_ipc_connection* connection, const vl_ipc_message* message) {
  json_error_t parse_error;
  const VlJsonRef request(json_loads(message->body, 0, &parse_error));
  if (!request) {
    VL_LOG(connection->category, VL_LOG_ERROR, "Could not decode command: %s", parse_error.text);
    VL_ERROR_ADD(VL_IPC_ERR_NOT_JSON, "Could not decode command: %s", parse_error.text);
    send_error_response(connection);
    return;
  }
  // The low 32 bits count; a missing or non-integer number is 0.
  const auto command = static_cast<uint32_t>(json_integer_value(json_object_get(request.get(), "command")));
  const vl_ipc_request_handler handler = handler_of(command);
  if (!handler) {
    VL_LOG(connection->category, VL_LOG_ERROR, "Invalid command receicved: %i", static_cast<int>(command));
    VL_ERROR_ADD(VL_IPC_ERR_BAD_COMMAND, "Invalid command receicved: %i", static_cast<int>(command));
    send_error_response(connection);
    return;
  }
  const char* name = vl_ipc_command_name(command);
  VL_LOG(server.category, VL_LOG_DEBUG, "IPC-server receives: %s;%s", name, message->body);
  json_t* parameter = json_object_get(request.get(), "parameter");
  if (!parameter) {
    VL_LOG(connection->category, VL_LOG_ERROR, "Missing parameter for command %s", name);
    VL_ERROR_ADD(VL_IPC_ERR_NO_PARAMETER, "Missing parameter for command %s", name);
    send_error_response(connection);
    return;
  }
  // A handler without a value still answers: the client waits for one.
  if (send_response(connection, command, run_handler(handler, parameter)) != 0)
    VL_LOG(connection->category, VL_LOG_ERROR, "Could not send response for command %s", name);
}

void dispatch(vl_ipc_connection* connection, const vl_ipc_message* message) {
  if (message->version != vl_ipc_version || message->type > VL_IPC_EVENT) {
    // Not answered: the error goes out with the next error response.
    VL_ERROR_ADD(VL_IPC_ERR_BAD_MESSAGE, "Can't handle message(v%i): %s", static_cast<int>(message->version),
                 message->body);
    return;
  }
  if (message->type == VL_IPC_REQUEST) dispatch_request(connection, message);
}

void receive_message(vl_ipc_connection* connection, const vl_ipc_message* message) {
  dispatch(connection, message);
  const std::size_t dropped = vl_error_truncate(vl_ipc_error_backlog);
  if (dropped > 0)
    VL_LOG(connection->category, VL_LOG_ERROR, "Dropped %zu unanswered IPC errors, keeping the newest %zu!",
           dropped, vl_ipc_error_backlog);
}

}  // namespace

int vl_ipc_register_handler(uint32_t command, vl_ipc_request_handler handler) {
  if (command == VL_IPC_CMD_ERROR || command >= VL_IPC_CMD_COUNT) {
    errno = EINVAL;
    return -1;
  }
  handlers[command] = handler;
  return 0;
}

int vl_ipc_server_start(VlDevice* device, vl_mutex* control_lock, const char* address, uint16_t port) {
  if (!device || !control_lock || !address) {
    errno = EINVAL;
    return -1;
  }
  if (server.started) return 0;
  server.category = vl_log_category("velanto.ipc.server");
  server.device = device;
  server.control_lock = control_lock;
  if (vl_ipc_start(address, port, receive_message) != 0) {
    VL_LOG(server.category, VL_LOG_FATAL, "Can not create VELANTO IPC server!");
    server = Server{};
    return -1;
  }
  server.started = true;
  return 0;
}

void vl_ipc_server_stop() {
  if (!server.started) return;
  vl_ipc_stop();
  server = Server{};
}

void vl_ipc_push_event(json_t* event) {
  // The connection's own category is set by the controlling thread; this
  // one is the same and needs no synchronisation with it.
  static log4c_category_t* const category = vl_log_category("velanto.ipc.srv");
  json_t* data = json_object_get(event, "event_data");
  const VlJsonRef body(json_pack("{s:O, s:O, s:O}", "event_id", json_object_get(event, "event_id"),
                                 "event_originator", json_object_get(event, "event_originator"), "event_data",
                                 data ? data : json_null()));
  const Text text = body ? dump(body.get()) : nullptr;
  if (!text) {
    VL_LOG(category, VL_LOG_ERROR, "Could not create IPC event!");
    vl_error_backtrace(nullptr);
    return;
  }
  const vl_ipc_message message = message_of(VL_IPC_EVENT, text);
  vl_ipc_send_if_connected(vl_ipc_served_connection(), &message);
}
