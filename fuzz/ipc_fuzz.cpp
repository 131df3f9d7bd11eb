// The control port as any client that reaches it: the input is the byte
// stream one client sends on one connection. The real server (frame reader,
// dispatcher, every registered command handler) serves it on 127.0.0.1 in
// the process's private network namespace, with the lab device behind it
// (its ramp generator and analyzer reserved).
// Every request must be answered exactly once, and every frame that comes
// back must be a well-formed response or event.
#include "fuzz_support.h"

#include "vlipc/vl_ipc_lowlevel.h"
#include "vlipc/vl_ipc_srv.h"
#include "vlipc/vlipc_handlers.h"
#include "vlutil/vl_ipc.h"
#include "vlutil/vl_json_ref.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

namespace {

constexpr const char* address = "127.0.0.1";
uint16_t port = 0;

int connect_client() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  fuzz::require(fd >= 0, "no client socket");
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(port);
  inet_pton(AF_INET, address, &server.sin_addr);
  if (connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
    std::perror("fuzz: connect");
    fuzz::require(false, "cannot connect");
  }
  return fd;
}

// Sends everything (as far as the server takes it) while reading what comes
// back, until the server closes the connection.
std::string converse(const uint8_t* data, std::size_t size) {
  const int fd = connect_client();
  std::string received;
  std::size_t sent = 0;
  bool writing = true;
  if (size == 0) {
    shutdown(fd, SHUT_WR);
    writing = false;
  }
  for (;;) {
    pollfd wait{fd, static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0};
    if (poll(&wait, 1, -1) < 0) {
      fuzz::require(errno == EINTR, "poll failed");
      continue;
    }
    if (wait.revents & (POLLIN | POLLHUP | POLLERR)) {
      char buffer[65536];
      const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
      if (got <= 0) break;  // closed (or reset after a refused frame)
      received.append(buffer, static_cast<std::size_t>(got));
    }
    if (writing && (wait.revents & POLLOUT)) {
      const ssize_t n = send(fd, data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) sent += static_cast<std::size_t>(n);
      // The server may end the connection before it has read everything.
      if (n < 0 && errno != EAGAIN && errno != EINTR) writing = false;
      if (sent == size) {
        shutdown(fd, SHUT_WR);
        writing = false;
      }
    }
  }
  close(fd);
  return received;
}

// The requests in the input that must be answered: every whole frame of
// version 1 and type 0 whose body ends in its NUL, read as the server reads
// frames (a header ends at its colon or after 32 bytes; a bad header or an
// empty body is skipped; a body too long or cut short ends the connection).
std::size_t requests_in(const uint8_t* data, std::size_t size) {
  std::size_t requests = 0;
  std::size_t pos = 0;
  while (pos < size) {
    const std::size_t start = pos;
    while (pos < size && pos - start < vl_ipc_header_size && data[pos++] != ':') {
    }
    const bool colon = data[pos - 1] == ':';
    if (!colon && pos - start < vl_ipc_header_size) break;  // the peer closed within a header
    uint32_t fields[3] = {};
    const auto* header = reinterpret_cast<const char*>(data + start);
    if (!vl_ipc_parse_numbers(header, pos - start - (colon ? 1 : 0), fields, 3) || fields[2] == 0) continue;
    if (fields[2] > vl_ipc_max_length || size - pos < fields[2]) break;
    pos += fields[2];
    if (data[pos - 1] == '\0' && fields[0] == vl_ipc_version && fields[1] == VL_IPC_REQUEST) ++requests;
  }
  return requests;
}

// Checks one frame from `pos`; returns where the next begins.
std::size_t check_frame(const std::string& stream, std::size_t pos, std::size_t* responses) {
  const std::size_t colon = stream.find(':', pos);
  fuzz::require(colon != std::string::npos && colon - pos < vl_ipc_header_size, "frame header without colon");
  uint32_t fields[3] = {};
  fuzz::require(vl_ipc_parse_numbers(stream.data() + pos, colon - pos, fields, 3), "unreadable frame header");
  fuzz::require(fields[0] == vl_ipc_version, "frame of another version");
  fuzz::require(fields[1] == VL_IPC_RESPONSE || fields[1] == VL_IPC_EVENT, "frame of another type");
  const std::size_t length = fields[2];
  fuzz::require(length > 0 && stream.size() - colon - 1 >= length, "frame body cut short");
  const std::string body = stream.substr(colon + 1, length);
  fuzz::require(body.back() == '\0' && body.find('\0') == length - 1, "frame body not one terminated text");
  json_error_t error;
  const VlJsonRef json(json_loads(body.c_str(), 0, &error));
  fuzz::require(json_is_object(json.get()), "frame body not a JSON object");
  if (fields[1] == VL_IPC_RESPONSE) {
    ++*responses;
    const json_t* command = json_object_get(json.get(), "command");
    fuzz::require(json_is_integer(command) && json_integer_value(command) >= 0 &&
                      json_integer_value(command) < VL_IPC_CMD_COUNT,
                  "response without a command number");
    fuzz::require(json_object_get(json.get(), "parameter") != nullptr, "response without a parameter");
  }
  return colon + 1 + length;
}

// The state a client usually finds: the ramp generator and analyzer
// reserved, so that stream requests reach the engine without a reservation
// first (the reservation commands may still release and take them).
void reserve_ramps() {
  VlDevice* device = fuzz::lab_device();
  const VlJsonRef configuration(json_pack("{s:i}", "audioBlockSize", 1024));
  VlLock lock(device->control_lock);
  for (const char* name : {"GeneratorRamp", "AnalyzerRamp"})
    fuzz::require(vl_audio_device_lock(vl_device_audio_find(device, name), configuration.get()) != nullptr,
                  "a ramp device could not be reserved");
}

// Every input ends its connection first, so its port waits a minute in
// TIME_WAIT: at hundreds of inputs a second the namespace needs all ports
// and their reuse.
void widen_client_ports() {
  for (const auto& [path, value] : {std::pair{"/proc/sys/net/ipv4/ip_local_port_range", "1024 65535"},
                                    std::pair{"/proc/sys/net/ipv4/tcp_tw_reuse", "1"}}) {
    std::FILE* file = std::fopen(path, "w");
    fuzz::require(file && std::fputs(value, file) >= 0 && std::fclose(file) == 0, "cannot widen the client ports");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_logging();
  fuzz::enter_private_network();
  widen_client_ports();
  VlDevice* device = fuzz::lab_device();
  vlipc_register_handlers();
  fuzz::require(vl_ipc_server_start(device, &device->control_lock, address, 0) == 0, "the server did not start");
  port = vl_ipc_bound_port();
  reserve_ramps();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string received = converse(data, size);
  std::size_t responses = 0;
  for (std::size_t pos = 0; pos < received.size();) pos = check_frame(received, pos, &responses);
  fuzz::require(responses == requests_in(data, size), "not every request was answered exactly once");
  fuzz::reset_lab_device();
  reserve_ramps();
  return 0;
}
