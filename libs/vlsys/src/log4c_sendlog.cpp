#include "vlsys/log4c_sendlog.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* default_host = "127.0.0.1";
constexpr uint16_t syslog_port = 514;
constexpr std::size_t datagram_size = 4096;

struct SendlogState {
  char host[128] = {};
  int fd = -1;
};

SendlogState* state_of(const log4c_appender_t* appender) {
  return static_cast<SendlogState*>(log4c_appender_get_udata(appender));
}

void set_host(SendlogState* state, const char* host) {
  std::snprintf(state->host, sizeof state->host, "%s", host);
}

// Syslog severity 0..7 from a log4c priority.
int severity_of(int priority) { return std::clamp((priority + 1) / 100, 0, 7); }

}  // namespace

int sendlog_open(log4c_appender_t* appender) {
  SendlogState* state = state_of(appender);
  const bool fresh = state == nullptr;
  if (fresh) {
    state = new SendlogState;
    set_host(state, default_host);
  } else if (state->host[0] == '\0') {
    set_host(state, default_host);
  }
  const int fd = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (fd <= 0) {
    if (fd == 0) close(fd);
    if (fresh) delete state;
    log4c_appender_set_udata(appender, nullptr);
    return 1;
  }
  state->fd = fd;
  log4c_appender_set_udata(appender, state);
  return 0;
}

int sendlog_append(log4c_appender_t* appender, const log4c_logging_event_t* event) {
  SendlogState* state = state_of(appender);
  if (!state) return 1;
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_port = htons(syslog_port);
  destination.sin_addr.s_addr = inet_addr(state->host);
  if (destination.sin_addr.s_addr == INADDR_NONE) return 1;

  char datagram[datagram_size];
  const char* line = event->evt_rendered_msg ? event->evt_rendered_msg : "";
  int length = std::snprintf(datagram, sizeof datagram, "<%d>%s", 64 + severity_of(event->evt_priority), line);
  length = std::min<int>(length, static_cast<int>(sizeof datagram) - 1);
  const ssize_t sent = sendto(state->fd, datagram, static_cast<std::size_t>(length) + 1, 0,
                              reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
  return sent > 0 ? 1 : 0;
}

int sendlog_close(log4c_appender_t* appender) {
  SendlogState* state = state_of(appender);
  if (!state) return 1;
  close(state->fd);
  delete state;
  log4c_appender_set_udata(appender, nullptr);
  return 0;
}

void log4c_sendlog_set_host(log4c_appender_t* appender, const char* host) {
  SendlogState* state = appender ? state_of(appender) : nullptr;
  if (!state) return;
  set_host(state, host ? host : default_host);
}

const log4c_appender_type_t log4c_appender_type_sendlog = {"sendlog", sendlog_open, sendlog_append,
                                                           sendlog_close};
