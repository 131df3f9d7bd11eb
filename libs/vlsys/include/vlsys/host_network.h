// The host's IPv4 network interfaces, default gateway and host name, and the
// host operations this platform refuses.
#pragma once

#include "vlutil/vl_rational.h"

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t vl_iface_name_size = 16;

// One IPv4 interface of the host. Addresses are in network byte order.
struct vl_host_iface {
  char name[vl_iface_name_size];  // zero-filled; not terminated when 16 long
  uint32_t addr;
  uint32_t mask;
  uint32_t gateway;    // the scan leaves it as the caller zeroed it
  uint32_t addr_mode;  // 0 = fixed address; the scan sets 0
  uint8_t mac[6];
  int32_t ifindex;
};

inline constexpr std::size_t vl_hostname_size = 64;

// Interfaces with an IPv4 address whose name does not begin with "lo"; -1 on
// failure.
int vl_get_num_network_ifaces();
// Fills up to `max` entries in the kernel's order, loopback skipped; returns
// how many were filled, -1 on failure.
int vl_get_network_ifaces(int max, vl_host_iface* entries);
// Default gateway (network byte order), 0 when there is none.
uint32_t vl_get_gateway();

// gethostname into vl_hostname_size bytes.
int vl_get_hostname(char* buffer);
int vl_set_hostname(const char* name);
// Flushes the file systems and sends SIGTERM to process 1.
int vl_safe_reboot();

// Operations other platforms offer; they refuse here.
int vl_set_iface();
int vl_set_gateway(uint32_t address);
int vl_update_firmware_cb(const void* data, std::size_t length);
int vl_set_samplerate(vl_rational rate);
