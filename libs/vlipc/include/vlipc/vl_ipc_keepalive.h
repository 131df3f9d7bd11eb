// TCP keep-alive for accepted control connections: a client that loses
// power or its cable is noticed, so that it no longer keeps every other
// client waiting. The times come from the environment variable
// VELANTO_IPC_KEEPALIVE, "<idle>,<interval>,<count>" (seconds, seconds,
// probes), when it is set and well-formed.
#pragma once

inline constexpr const char* vl_ipc_keepalive_env = "VELANTO_IPC_KEEPALIVE";

struct vl_ipc_keepalive {
  int idle_s = 60;
  int interval_s = 10;
  int count = 3;
};

// The defaults, or the environment's times; a malformed value is logged
// and ignored.
vl_ipc_keepalive vl_ipc_keepalive_from_env();

// Turns keep-alive on for the connected TCP socket `fd`, and bounds the
// time sent data may stay unacknowledged by the same total, so that a
// peer that vanished while a response was on its way is noticed as well.
// 0, or -1 (logged).
int vl_ipc_keepalive_apply(int fd, const vl_ipc_keepalive& times);
