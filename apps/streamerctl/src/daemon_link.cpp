#include "daemon_link.h"

#include "vlipc/vl_ipc_clt.h"
#include "vlipc/vl_ipc_commands.h"
#include "vlipc/vl_ipc_srv.h"

#include <netdb.h>
#include <arpa/inet.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::string seconds_text(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", seconds);
  return text;
}

// The daemon's errors arrive as [{"line", "file", "type", "text"}, ...].
void report_daemon_errors(const json_t* errors) {
  std::size_t index = 0;
  const json_t* error = nullptr;
  json_array_foreach(errors, index, error) {
    const char* text = json_string_value(json_object_get(error, "text"));
    complain(text ? text : "the daemon reported an error without text");
  }
}

}  // namespace

DaemonLink::~DaemonLink() {
  if (connected_) vl_ipc_client_close();
}

bool DaemonLink::open(const LinkOptions& options) {
  timeout_s_ = options.timeout_s;
  if (!options.host.empty()) {
    address_ = resolve_ipv4(options.host);
    if (address_.empty()) {
      complain("cannot find an IPv4 address for host '" + options.host + "'");
      return false;
    }
    setenv(vl_ipc_client_address_env, address_.c_str(), 1);
  }
  const char* configured = std::getenv(vl_ipc_client_address_env);
  address_ = configured && *configured ? configured : vl_ipc_client_default_address;
  vl_ipc_client_set_timeout(static_cast<uint32_t>(std::lround(options.timeout_s * 1000)));
  if (!vl_ipc_client_connect()) {
    const int err = errno;
    const std::string where = address_ + ":" + std::to_string(vl_ipc_port);
    if (err == ETIMEDOUT)
      complain("no daemon answers at " + where + " (no connection within " + seconds_text(timeout_s_) + ")");
    else
      complain("no daemon answers at " + where + " (" + std::strerror(err) + ")");
    return false;
  }
  connected_ = true;
  std::optional<VlJsonRef> description = request(VL_IPC_CMD_INIT, nullptr);
  if (!description) return false;
  device_ = std::move(*description);
  return true;
}

std::optional<VlJsonRef> DaemonLink::request(uint32_t command, json_t* parameter) {
  VlJsonRef response;
  if (vl_ipc_client_call(command, parameter, &response) != 0) {
    report(command, errno, response.get());
    return std::nullopt;
  }
  if (!response) response.reset(json_null());
  return response;
}

VlDevice* DaemonLink::mirror() const { return vl_ipc_client_mirror(); }

void DaemonLink::report(uint32_t command, int err, const json_t* response) const {
  const std::string name = vl_ipc_command_name(command) ? vl_ipc_command_name(command) : "?";
  if (json_is_array(response) && json_array_size(response) > 0) return report_daemon_errors(response);
  if (err == ETIMEDOUT)
    complain("the daemon at " + address_ + " did not answer '" + name + "' within " + seconds_text(timeout_s_));
  else if (err == ENOTCONN)
    complain("the connection to the daemon at " + address_ + " was lost");
  else
    complain("the daemon's answer to '" + name + "' was not acceptable");
}

std::string resolve_ipv4(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return "";
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof text);
  freeaddrinfo(found);
  return text;
}

void complain(const std::string& message) { std::fprintf(stderr, "streamerctl: %s\n", message.c_str()); }

void print_json(const json_t* json) {
  char* text = json_dumps(json, JSON_INDENT(2) | JSON_PRESERVE_ORDER | JSON_ENCODE_ANY);
  std::printf("%s\n", text ? text : "null");
  std::free(text);
}
