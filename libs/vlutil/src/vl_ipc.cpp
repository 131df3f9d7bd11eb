#include "vlutil/vl_ipc.h"

#include "vlsys/vl_log.h"
#include "vlsys/vl_sched.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>
#include <utility>

namespace {

constexpr std::size_t error_text_size = 2048;
// Room for the longest header three 32-bit numbers can make.
constexpr std::size_t send_header_size = 48;

// A read that ends a connection someone closed on purpose is no error.
int read_end_priority(const vl_ipc_connection* connection) {
  return connection->closing ? VL_LOG_DEBUG : VL_LOG_ERROR;
}

ssize_t recv_retrying(vl_socket* sock, char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t got = vl_socket_recv(sock, buffer, size, 0);
    if (got >= 0 || errno != EINTR) return got;
  }
}

// Only the owning thread calls this; the locks keep a writer or a thread
// shutting the socket down from meeting a destroyed socket.
void drop_socket(vl_ipc_connection* connection) {
  VlLock write(connection->write_lock);
  vl_socket* sock = nullptr;
  {
    VlLock guard(connection->socket_lock);
    sock = std::exchange(connection->socket, nullptr);
  }
  delete vl_socket_dtor(sock);
}

// Reads single bytes until the colon or a full buffer. The bytes read, or
// the result of the read that failed (0 when the peer closed).
ssize_t read_header(vl_ipc_connection* connection, char* header) {
  std::size_t count = 0;
  while (count < vl_ipc_header_size) {
    const ssize_t got = recv_retrying(connection->socket, header + count, 1);
    if (got <= 0) return got;
    if (header[count++] == ':') break;
  }
  return static_cast<ssize_t>(count);
}

// False (the socket dropped) when the peer closes or a read fails first.
bool read_body(vl_ipc_connection* connection, char* body, uint32_t length) {
  uint32_t count = 0;
  while (count < length) {
    const ssize_t got = recv_retrying(connection->socket, body + count, length - count);
    if (got <= 0) {
      VL_LOG(connection->category, read_end_priority(connection),
             "Incomplete IPC message, IPC recv returned %i, errno: %i!", static_cast<int>(got), errno);
      drop_socket(connection);
      return false;
    }
    count += static_cast<uint32_t>(got);
  }
  return true;
}

// Writes all of `parts` with one gathered call where the socket takes it:
// header and body leave together instead of waiting on each other's
// acknowledgement. The number of parts completely sent; all on success.
std::size_t send_all(vl_socket* sock, iovec* parts, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    msghdr message{};
    message.msg_iov = parts + done;
    message.msg_iovlen = count - done;
    ssize_t sent = sendmsg(vl_socket_handle(sock), &message, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return done;
    for (; done < count && static_cast<std::size_t>(sent) >= parts[done].iov_len; ++done)
      sent -= static_cast<ssize_t>(parts[done].iov_len);
    if (done < count) {
      parts[done].iov_base = static_cast<char*>(parts[done].iov_base) + sent;
      parts[done].iov_len -= static_cast<std::size_t>(sent);
    }
  }
  return done;
}

// With the write lock held and the socket present.
int send_frame(vl_ipc_connection* connection, const vl_ipc_message* message) {
  char header[send_header_size];
  const int header_length =
      std::snprintf(header, sizeof header, "%u,%u,%u:", message->version, message->type, message->length);
  iovec parts[2] = {{header, static_cast<std::size_t>(header_length)},
                    {const_cast<char*>(message->body), message->body ? message->length : 0}};
  const std::size_t sent = send_all(connection->socket, parts, 2);
  if (sent < 2) {
    char reason[error_text_size];
    vl_strerror(errno, reason, sizeof reason);
    if (sent == 0)
      VL_LOG(connection->category, VL_LOG_ERROR, "Can not send IPC message header: %s.", reason);
    else
      VL_LOG(connection->category, VL_LOG_ERROR, "Can not send IPC message data: %s.", reason);
    return -1;
  }
  VL_LOG(connection->category, VL_LOG_TRACE, "sent message: %s%s", header, message->body ? message->body : "");
  return 0;
}

// connect() gives up after the socket's send time-out; it reports that as
// EINPROGRESS. The time-out is cleared again for the frames that follow.
int connect_within(vl_socket* sock, uint32_t timeout_ms) {
  timeval limit{static_cast<time_t>(timeout_ms / 1000), static_cast<suseconds_t>(timeout_ms % 1000 * 1000)};
  const int fd = vl_socket_handle(sock);
  if (timeout_ms > 0) setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  const int result = vl_socket_connect(sock);
  const int saved = errno == EINPROGRESS ? ETIMEDOUT : errno;
  limit = {};
  if (timeout_ms > 0) setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  errno = saved;
  return result;
}

}  // namespace

bool vl_ipc_parse_numbers(const char* text, std::size_t length, uint32_t* values, std::size_t count) {
  std::size_t pos = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) {
      if (pos >= length || text[pos] != ',') return false;
      ++pos;
    }
    const std::size_t start = pos;
    uint64_t value = 0;
    for (; pos < length && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
      value = value * 10 + static_cast<uint64_t>(text[pos] - '0');
      if (value > UINT32_MAX) return false;
    }
    if (pos == start) return false;
    values[i] = static_cast<uint32_t>(value);
  }
  return pos == length;
}

int vl_ipc_msg_handler(vl_ipc_connection* connection) {
  if (!connection || !connection->socket) return -1;
  char header[vl_ipc_header_size];
  const ssize_t header_read = read_header(connection, header);
  if (header_read <= 0) {
    VL_LOG(connection->category, read_end_priority(connection), "IPC recv returned %i, errno: %i!",
           static_cast<int>(header_read), errno);
    drop_socket(connection);
    return -1;
  }
  const int header_length = static_cast<int>(header_read);
  const bool has_colon = header[header_length - 1] == ':';
  uint32_t fields[3] = {};
  if (!vl_ipc_parse_numbers(header, static_cast<std::size_t>(header_length - (has_colon ? 1 : 0)), fields, 3)) {
    VL_LOG(connection->category, VL_LOG_ERROR, "could not read header %.*s", header_length, header);
    return 0;
  }
  const vl_ipc_message frame{fields[0], fields[1], fields[2], nullptr};
  if (frame.length == 0) {
    VL_LOG(connection->category, VL_LOG_ERROR, "Illegal IPC message received\n");
    return 0;
  }
  if (frame.length > vl_ipc_max_length) {
    VL_LOG(connection->category, VL_LOG_ERROR, "IPC message of %u bytes exceeds the limit of %u bytes!",
           frame.length, vl_ipc_max_length);
    drop_socket(connection);
    return -1;
  }
  std::unique_ptr<char[]> body(new (std::nothrow) char[frame.length]());
  if (!body) {
    VL_LOG(connection->category, VL_LOG_FATAL, "malloc failed\n");
    drop_socket(connection);
    return -1;
  }
  if (!read_body(connection, body.get(), frame.length)) return -1;
  // A body without its terminating NUL is not text; it is dropped.
  if (body[frame.length - 1] != '\0') return 0;
  VL_LOG(connection->category, VL_LOG_DEBUG, "received message: %.*s%s", header_length, header, body.get());
  const vl_ipc_message message{frame.version, frame.type, frame.length, body.get()};
  if (connection->callback) connection->callback(connection, &message);
  return 0;
}

int vl_ipc_send_message(vl_ipc_connection* connection, const vl_ipc_message* message) {
  if (!connection) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "No client connection available, to send message to!");
    errno = EINVAL;
    return -1;
  }
  VlLock write(connection->write_lock);
  if (!connection->socket) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "No connection available, to send message to!");
    errno = EINVAL;
    return -1;
  }
  return send_frame(connection, message);
}

int vl_ipc_send_if_connected(vl_ipc_connection* connection, const vl_ipc_message* message) {
  if (!connection) return 1;
  VlLock write(connection->write_lock);
  if (!connection->socket) return 1;
  return send_frame(connection, message);
}

vl_ipc_connection* vl_ipc_connect(const char* address_text, uint16_t port, vl_ipc_callback callback,
                                  vl_ipc_end_callback on_end, uint32_t connect_timeout_ms) {
  std::unique_ptr<vl_ipc_connection> connection(new (std::nothrow) vl_ipc_connection);
  if (!connection) {
    errno = ENOMEM;
    return nullptr;
  }
  connection->category = vl_log_category("velanto.ipc.clt");
  connection->callback = callback;
  connection->on_end = on_end;
  vl_socket* sock = vl_socket_ctor(nullptr, address_text, port, SOCK_STREAM);
  if (!sock) return nullptr;
  if (connect_within(sock, connect_timeout_ms) != 0) {
    const int reason = errno;
    vl_socket_errlog("'vl_socket_connect(client->socket)'");
    VL_LOG(connection->category, VL_LOG_ERROR, "Failed to establish connection to IPC service %s:%hu",
           address_text, port);
    delete vl_socket_dtor(sock);
    errno = reason;
    return nullptr;
  }
  connection->socket = sock;
  VL_LOG(connection->category, VL_LOG_INFO, "Connected to IPC service %s:%hu", address_text, port);
  if (!vl_thread_ctor(&connection->reader, ipc_msg_handler, "ipc_msg_handler", connection.get())) {
    const int saved = errno;
    drop_socket(connection.get());
    errno = saved;
    return nullptr;
  }
  return connection.release();
}

void* ipc_msg_handler(void* argument) {
  auto* connection = static_cast<vl_ipc_connection*>(argument);
  vl_sched_diminish_thread();
  connection->error = vl_error_ctor();
  if (!connection->error) {
    VL_LOG(connection->category, VL_LOG_FATAL, "Could not create vl_error object!");
    drop_socket(connection);
    if (connection->on_end) connection->on_end(connection);
    return nullptr;
  }
  vl_error_install(connection->error);
  while (connection->socket && vl_ipc_msg_handler(connection) >= 0) {
  }
  vl_ipc_cleanup(connection);
  if (connection->on_end) connection->on_end(connection);
  return nullptr;
}

void vl_ipc_close(vl_ipc_connection* connection) {
  if (!connection) return;
  vl_ipc_shutdown(connection);
  pthread_join(connection->reader.handle, nullptr);
  delete connection;
}

void vl_ipc_cleanup(vl_ipc_connection* connection) {
  if (!connection) return;
  VL_LOG(connection->category, VL_LOG_DEBUG, "Closing IPC connection!");
  drop_socket(connection);
  vl_error_dtor(std::exchange(connection->error, nullptr));
  VL_LOG(connection->category, VL_LOG_DEBUG, "IPC connection closed!");
}

void vl_ipc_shutdown(vl_ipc_connection* connection) {
  if (!connection) return;
  connection->closing = true;
  VlLock guard(connection->socket_lock);
  if (connection->socket) shutdown(vl_socket_handle(connection->socket), SHUT_RDWR);
}
