#include "vlipc/vl_ipc_keepalive.h"

#include "vlsys/vl_log.h"
#include "vlutil/vl_ipc.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// The kernel's limits for the idle and interval times and the probe count.
constexpr uint32_t max_seconds = 32767;
constexpr uint32_t max_probes = 127;

bool in_range(uint32_t value, uint32_t max) { return value >= 1 && value <= max; }

int set_option(int fd, int level, int name, int value, const char* text) {
  if (setsockopt(fd, level, name, &value, sizeof value) == 0) return 0;
  vl_socket_errlog(text);
  return -1;
}

}  // namespace

vl_ipc_keepalive vl_ipc_keepalive_from_env() {
  vl_ipc_keepalive times;
  const char* text = std::getenv(vl_ipc_keepalive_env);
  if (!text) return times;
  uint32_t values[3] = {};
  if (!vl_ipc_parse_numbers(text, std::strlen(text), values, 3) || !in_range(values[0], max_seconds) ||
      !in_range(values[1], max_seconds) || !in_range(values[2], max_probes)) {
    VL_LOG(vl_log_general(), VL_LOG_WARN, "Ignoring %s=%s: expected <idle>,<interval>,<count>!",
           vl_ipc_keepalive_env, text);
    return times;
  }
  times.idle_s = static_cast<int>(values[0]);
  times.interval_s = static_cast<int>(values[1]);
  times.count = static_cast<int>(values[2]);
  return times;
}

int vl_ipc_keepalive_apply(int fd, const vl_ipc_keepalive& times) {
  const int total_ms = (times.idle_s + times.interval_s * times.count) * 1000;
  int failed = 0;
  failed |= set_option(fd, SOL_SOCKET, SO_KEEPALIVE, 1, "'setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE)'");
  failed |= set_option(fd, IPPROTO_TCP, TCP_KEEPIDLE, times.idle_s, "'setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE)'");
  failed |= set_option(fd, IPPROTO_TCP, TCP_KEEPINTVL, times.interval_s,
                       "'setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL)'");
  failed |= set_option(fd, IPPROTO_TCP, TCP_KEEPCNT, times.count, "'setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT)'");
  failed |= set_option(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, total_ms,
                       "'setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT)'");
  return failed ? -1 : 0;
}
