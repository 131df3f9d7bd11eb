#include "vlipc/vl_ipc_clt.h"

#include "vlipc/vl_ipc_clt_responses.h"
#include "vlipc/vl_ipc_srv.h"
#include "vlsys/vl_condition.h"
#include "vlsys/vl_log.h"
#include "vlsys/vl_socket.h"
#include "vlutil/vl_event.h"
#include "vlutil/vl_ipc.h"
#include "vlutil/vl_json.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace {

using Clock = std::chrono::steady_clock;

// Daemon event numbers a client can subscribe to (as 201 to 399).
constexpr uint32_t first_event = 1;
constexpr uint32_t event_offset = 200;
// Bounds each wait for the reader's end; the wait repeats until it ends.
constexpr uint32_t reader_end_poll_us = 100000;
constexpr std::size_t error_text_size = 256;
constexpr uint32_t no_request = UINT32_MAX;

struct FreeText {
  void operator()(char* text) const { std::free(text); }
};
using Text = std::unique_ptr<char, FreeText>;

}  // namespace

struct VlIpcClient {
  log4c_category_t* category = nullptr;
  vl_ipc_connection* connection = nullptr;
  VlDevice* mirror = nullptr;
  VlOwnedMutex request_lock;  // one request in flight

  // What the reader tells the waiting request; under state_lock.
  VlOwnedMutex state_lock;
  vl_condition changed{};
  bool condition_made = false;
  uint32_t pending = no_request;  // the command waited for
  bool answered = false;
  bool result = false;  // the response was handled successfully
  VlJsonRef response;   // its "parameter"
  bool connected = true;

  VlIpcClient() { condition_made = vl_condition_ctor(&changed) != nullptr; }
  ~VlIpcClient() {
    if (condition_made) vl_condition_dtor(&changed);
  }
  VlIpcClient(const VlIpcClient&) = delete;
  VlIpcClient& operator=(const VlIpcClient&) = delete;
};

namespace {

// The reader thread reaches the record through this; set before the reader
// starts, cleared after it has been joined.
VlIpcClient* client = nullptr;
std::atomic<uint32_t> timeout_ms{vl_ipc_client_default_timeout_ms};

const char* name_of(uint32_t command) {
  const char* name = vl_ipc_command_name(command);
  return name ? name : "unknown";
}

Text dump(const json_t* json) { return Text(json_dumps(json, JSON_PRESERVE_ORDER)); }

// Hands the outcome to the request waiting for `command`; a response
// nobody waits for changes nothing.
void deliver(uint32_t command, bool result, const json_t* parameter) {
  VlLock lock(client->state_lock);
  if (client->pending == no_request) return;
  client->answered = true;
  client->result = result && command == client->pending;
  client->response = VlJsonRef::borrow(const_cast<json_t*>(parameter));
  pthread_cond_broadcast(&client->changed.handle);
}

bool awaited(uint32_t command) {
  VlLock lock(client->state_lock);
  return client->pending != no_request && (command == client->pending || command == VL_IPC_CMD_ERROR);
}

void handle_response(const char* body) {
  json_error_t parse_error;
  const VlJsonRef response(json_loads(body, 0, &parse_error));
  if (!response) {
    VL_LOG(client->category, VL_LOG_ERROR, "Could not decode command: %s", parse_error.text);
    return deliver(no_request, false, nullptr);
  }
  const auto command = static_cast<uint32_t>(json_integer_value(json_object_get(response.get(), "command")));
  if (command >= VL_IPC_CMD_COUNT) {
    VL_LOG(client->category, VL_LOG_ERROR, "Unknown command received: %i", static_cast<int>(command));
    return deliver(command, false, nullptr);
  }
  VL_LOG(client->category, VL_LOG_DEBUG, "IPC-client receives: %s;%s\n", name_of(command), body);
  const json_t* parameter = json_object_get(response.get(), "parameter");
  if (!parameter) {
    VL_LOG(client->category, VL_LOG_ERROR, "Missing parameter for command %s", name_of(command));
    return deliver(command, false, nullptr);
  }
  // Only the awaited answer may change the mirror: the application reads it
  // between requests.
  if (!awaited(command)) {
    VL_LOG(client->category, VL_LOG_ERROR, "Unexpected response for command %s received", name_of(command));
    return deliver(command, false, parameter);
  }
  const bool handled = vl_ipc_response_handle(command, &client->mirror, parameter) >= 0;
  if (!handled) VL_LOG(client->category, VL_LOG_ERROR, "Invalid response for command %s received", name_of(command));
  deliver(command, handled, parameter);
}

// Daemon events 1 to 199 reach this process's handlers as 201 to 399.
void republish_event(const char* body) {
  const VlJsonRef event(json_loads(body, 0, nullptr));
  if (!event) {
    VL_LOG(client->category, VL_LOG_DEBUG, "Could not decode event: %s", body);
    return;
  }
  const auto id = static_cast<uint32_t>(json_integer_value(json_object_get(event.get(), "event_id")));
  const char* originator = json_string_value(json_object_get(event.get(), "event_originator"));
  if (!originator) originator = "";
  if (id < first_event || id >= event_offset) {
    VL_LOG(client->category, VL_LOG_DEBUG, "Illegal event id received: %i", static_cast<int>(id));
    return;
  }
  VL_LOG(client->category, VL_LOG_DEBUG, "IPC-client receives event %i for %s: %s\n", static_cast<int>(id),
         originator, body);
  const auto local_id = static_cast<int32_t>(id + event_offset);
  if (vl_event_publish(local_id, json_object_get(event.get(), "event_data")) != 0)
    VL_LOG(client->category, VL_LOG_DEBUG, "Could not publish event %i for %s: %s\n", static_cast<int>(local_id),
           originator, body);
}

void receive_message(vl_ipc_connection*, const vl_ipc_message* message) {
  if (message->version == vl_ipc_version && message->type == VL_IPC_RESPONSE) return handle_response(message->body);
  if (message->version == vl_ipc_version && message->type == VL_IPC_EVENT) return republish_event(message->body);
  if (message->version == vl_ipc_version && message->type == VL_IPC_REQUEST) return;
  VL_LOG(client->category, VL_LOG_ERROR, "Unknown message version %i: %s", static_cast<int>(message->version),
         message->body);
}

// The reader's last act: a waiting request learns that no answer will come.
void reader_ended(vl_ipc_connection*) {
  VlLock lock(client->state_lock);
  client->connected = false;
  pthread_cond_broadcast(&client->changed.handle);
}

// Under state_lock. The time-out ends the connection and waits for the
// reader, so that a late answer can neither meet the next request nor
// change the mirror after the caller has the failure.
void abandon_request() {
  client->pending = no_request;
  vl_ipc_shutdown(client->connection);
  while (client->connected) vl_condition_timedwait(&client->changed, &client->state_lock, reader_end_poll_us);
}

// Waits for the answer to the pending request; 0, or -1 with errno.
int wait_for_answer(Clock::time_point deadline) {
  VlLock lock(client->state_lock);
  while (!client->answered && client->connected) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      abandon_request();
      errno = ETIMEDOUT;
      return -1;
    }
    const auto wait_us = static_cast<uint32_t>(std::min<int64_t>(left, UINT32_MAX));
    vl_condition_timedwait(&client->changed, &client->state_lock, wait_us);
  }
  const bool answered = client->answered;
  const bool result = client->result;
  client->pending = no_request;
  if (!answered) {
    errno = ENOTCONN;
    return -1;
  }
  if (!result) {
    errno = EIO;
    return -1;
  }
  return 0;
}

// Marks `command` as awaited; false (ENOTCONN) once the connection is gone.
bool begin_request(uint32_t command) {
  VlLock lock(client->state_lock);
  if (!client->connected) {
    errno = ENOTCONN;
    return false;
  }
  client->pending = command;
  client->answered = false;
  client->result = false;
  client->response.reset();
  return true;
}

void cancel_request() {
  VlLock lock(client->state_lock);
  client->pending = no_request;
}

// Sends the request frame; false after logging why.
bool send_request(uint32_t command, json_t* parameter) {
  const VlJsonRef request(json_pack("{s:i, s:O}", "command", static_cast<json_int_t>(command), "parameter",
                                    parameter ? parameter : json_null()));
  const Text text = request ? dump(request.get()) : nullptr;
  if (!text) {
    VL_LOG(client->category, VL_LOG_ERROR, "Could not create IPC message!");
    errno = EINVAL;
    return false;
  }
  VL_LOG(client->category, VL_LOG_DEBUG, "IPC-Client sends %s;%s\n", name_of(command), text.get());
  const vl_ipc_message message{vl_ipc_version, VL_IPC_REQUEST, static_cast<uint32_t>(std::strlen(text.get()) + 1),
                               text.get()};
  if (vl_ipc_send_message(client->connection, &message) != 0) {
    VL_LOG(client->category, VL_LOG_ERROR, "Could not send IPC message: %s!", name_of(command));
    errno = ENOTCONN;
    return false;
  }
  return true;
}

// Logs why the request failed; -1 with errno `err`.
int request_failed(uint32_t command, int err) {
  char reason[error_text_size];
  VL_LOG(client->category, VL_LOG_ERROR, "IPC-Request '%s' returned with failure: %s!", name_of(command),
         vl_strerror(err, reason, sizeof reason));
  errno = err;
  return -1;
}

void destroy_client() {
  vl_ipc_close(client->connection);
  vl_device_dtor(client->mirror);
  delete client;
  client = nullptr;
  vl_socket_exit();
}

}  // namespace

VlIpcClient* vl_ipc_client_connect() {
  const char* configured = std::getenv(vl_ipc_client_address_env);
  const char* address = configured && *configured ? configured : vl_ipc_client_default_address;
  if (client) return client;
  vl_socket_init();
  client = new (std::nothrow) VlIpcClient;
  if (!client || !client->request_lock.made() || !client->state_lock.made() || !client->condition_made) {
    delete client;
    client = nullptr;
    errno = ENOMEM;
    return nullptr;
  }
  client->category = vl_log_category("velanto.ipc.clt");
  // log4c creates categories without a lock: the reader's error list finds
  // its category made here, before the reader starts.
  vl_log_category("velanto.vl_error");
  client->connection = vl_ipc_connect(address, vl_ipc_port, receive_message, reader_ended, timeout_ms.load());
  if (!client->connection) {
    const int err = errno;
    char reason[error_text_size];
    VL_LOG(client->category, VL_LOG_FATAL, "Could not create IPC client: %s.", vl_strerror(err, reason, sizeof reason));
    destroy_client();
    errno = err;
    return nullptr;
  }
  return client;
}

void vl_ipc_client_close() {
  if (client) destroy_client();
}

int vl_ipc_client_call(uint32_t command, json_t* parameter, VlJsonRef* response) {
  if (response) response->reset();
  if (!client) {
    errno = ENOTCONN;
    return -1;
  }
  VlLock request(client->request_lock);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms.load());
  if (!begin_request(command)) return request_failed(command, errno);
  if (!send_request(command, parameter)) {
    const int err = errno;
    cancel_request();
    return request_failed(command, err);
  }
  const int result = wait_for_answer(deadline);
  const int err = errno;
  if (response) {
    VlLock lock(client->state_lock);
    *response = std::move(client->response);
  }
  return result == 0 ? 0 : request_failed(command, err);
}

int vl_ipc_client_send(uint32_t command, json_t* parameter) { return vl_ipc_client_call(command, parameter, nullptr); }

int vl_ipc_client_sap_list(VlJsonRef* list) {
  VlJsonRef response;
  const int result = vl_ipc_client_call(VL_IPC_CMD_SAP_LIST, nullptr, &response);
  if (list) *list = VlJsonRef::borrow(json_object_get(response.get(), vl_json_keys[VL_KEY_SAP_LIST].name));
  return result;
}

int vl_ipc_client_sap_set(const char* address, uint16_t port, bool enabled) {
  VlSessionId id{};
  if (!vl_session_id_make(address, port, &id)) {
    errno = EINVAL;
    return -1;
  }
  const VlJsonRef parameter(json_pack("{s:o, s:i}", vl_json_keys[VL_KEY_SESSION_ID].name, vl_session_id_encode(id),
                                      vl_json_keys[VL_KEY_STREAM_SAP].name, enabled ? 1 : 0));
  return vl_ipc_client_call(VL_IPC_CMD_SAP_SET, parameter.get(), nullptr);
}

bool vl_ipc_client_connected() {
  if (!client) return false;
  VlLock lock(client->state_lock);
  return client->connected;
}

void vl_ipc_client_set_timeout(uint32_t limit_ms) { timeout_ms = limit_ms; }

uint32_t vl_ipc_client_timeout() { return timeout_ms; }

VlDevice* vl_ipc_client_mirror() { return client ? client->mirror : nullptr; }
