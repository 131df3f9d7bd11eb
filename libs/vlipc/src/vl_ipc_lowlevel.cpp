#include "vlipc/vl_ipc_lowlevel.h"

#include "vlipc/vl_ipc_keepalive.h"
#include "vlsys/vl_log.h"
#include "vlsys/vl_sched.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace {

struct Listener {
  bool running = false;  // controlling thread only
  vl_socket* socket = nullptr;
  vl_ipc_connection connection;
  vl_thread thread{};
  int wake_fd = -1;
  std::atomic<bool> stop_requested{false};
  vl_ipc_keepalive keepalive;
};

Listener listener;

vl_socket* open_listening_socket(const char* address, uint16_t port) {
  vl_socket* sock = vl_socket_ctor(nullptr, address, port, SOCK_STREAM);
  if (!sock) return nullptr;
  if (vl_socket_bind(sock, nullptr, address, port) != 0) {
    char call[128];
    std::snprintf(call, sizeof call, "'vl_socket_bind(server->socket, NULL, \"%s\", port)'", address);
    vl_socket_errlog(call);
    delete vl_socket_dtor(sock);
    return nullptr;
  }
  if (vl_socket_listen(sock) != 0) {
    vl_socket_errlog("'vl_socket_listen(server->socket)'");
    delete vl_socket_dtor(sock);
    return nullptr;
  }
  return sock;
}

// Waits until a client connects and accepts it; null when stopping or
// when accepting failed.
vl_socket* wait_for_client() {
  pollfd fds[2] = {{vl_socket_handle(listener.socket), POLLIN, 0}, {listener.wake_fd, POLLIN, 0}};
  for (;;) {
    const int ready = poll(fds, 2, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || fds[1].revents != 0 || listener.stop_requested) return nullptr;
    if (fds[0].revents != 0) return vl_socket_accept(listener.socket);
  }
}

// Makes `peer` the served connection unless a stop came first.
bool attach(vl_socket* peer) {
  vl_ipc_connection& connection = listener.connection;
  VlLock write(connection.write_lock);
  VlLock guard(connection.socket_lock);
  connection.socket = peer;
  connection.closing = false;
  return !listener.stop_requested;
}

void serve(vl_socket* peer) {
  vl_ipc_connection& connection = listener.connection;
  VL_LOG(connection.category, VL_LOG_DEBUG, "IPC-Client connection accepted!");
  vl_ipc_keepalive_apply(vl_socket_handle(peer), listener.keepalive);
  if (attach(peer)) {
    while (connection.socket && !listener.stop_requested) {
      if (vl_ipc_msg_handler(&connection) < 0) break;
    }
  }
  vl_ipc_cleanup(&connection);
  VL_LOG(connection.category, VL_LOG_DEBUG, "IPC-Client connection closed!");
}

void close_listener() {
  VL_LOG(listener.connection.category, VL_LOG_DEBUG, "Closing IPC-Server thread!");
  vl_ipc_cleanup(&listener.connection);
  delete vl_socket_dtor(listener.socket);
  listener.socket = nullptr;
}

}  // namespace

void* ipc_svc_handler(void*) {
  vl_ipc_connection& connection = listener.connection;
  vl_sched_diminish_thread();
  while (!listener.stop_requested) {
    VL_LOG(connection.category, VL_LOG_DEBUG, "Waiting for IPC-Client ...");
    // Errors raised while the coming client is served travel back to it.
    connection.error = vl_error_ctor();
    if (connection.error) vl_error_install(connection.error);
    vl_socket* peer = wait_for_client();
    if (!peer) {
      if (!listener.stop_requested) VL_LOG(connection.category, VL_LOG_DEBUG, "IPC-Server: Accept failed!");
      vl_ipc_cleanup(&connection);
      continue;
    }
    serve(peer);
  }
  close_listener();
  return nullptr;
}

int vl_ipc_start(const char* address, uint16_t port, vl_ipc_callback callback) {
  if (listener.running) return 0;
  listener.connection.category = vl_log_category("velanto.ipc.srv");
  listener.connection.callback = callback;
  listener.keepalive = vl_ipc_keepalive_from_env();
  listener.socket = open_listening_socket(address, port);
  if (!listener.socket) return -1;
  listener.wake_fd = eventfd(0, EFD_CLOEXEC);
  listener.stop_requested = false;
  if (listener.wake_fd < 0 || !vl_thread_ctor(&listener.thread, ipc_svc_handler, "ipc_svc_handler", nullptr)) {
    vl_socket_errlog("'vl_thread_ctor(&server->thread, ipc_svc_handler)'");
    if (listener.wake_fd >= 0) close(listener.wake_fd);
    listener.wake_fd = -1;
    delete vl_socket_dtor(listener.socket);
    listener.socket = nullptr;
    return -1;
  }
  listener.running = true;
  return 0;
}

void vl_ipc_stop() {
  if (!listener.running) return;
  listener.stop_requested = true;
  const uint64_t one = 1;
  if (write(listener.wake_fd, &one, sizeof one) < 0) vl_socket_errlog("'write(server->wake_fd)'");
  vl_ipc_shutdown(&listener.connection);
  pthread_join(listener.thread.handle, nullptr);
  close(listener.wake_fd);
  listener.wake_fd = -1;
  listener.running = false;
}

uint16_t vl_ipc_bound_port() {
  if (!listener.running) return 0;
  sockaddr_in local{};
  socklen_t length = sizeof local;
  if (getsockname(vl_socket_handle(listener.socket), reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
  return ntohs(local.sin_port);
}

vl_ipc_connection* vl_ipc_served_connection() { return &listener.connection; }
