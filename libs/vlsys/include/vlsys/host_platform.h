// What this host is: its platform pair, the vendor information file, the
// identity defaults, and the check of an interface address configuration.
#pragma once

#include "vlsys/host_network.h"

#include <cstddef>
#include <cstdint>

// Platform types and the variants of the board family.
inline constexpr uint32_t vl_platform_windows_pc = 1;
inline constexpr uint32_t vl_platform_linux_pc = 2;
inline constexpr uint32_t vl_platform_solmo_board = 4;
inline constexpr uint32_t vl_platform_norzel_board = 5;

struct VlPlatform {
  uint32_t type;
  uint32_t variant;
};

// This build's platform: the Linux PC (type 2, variant 1). Fills `pair` when
// given and returns it.
VlPlatform* vl_platform_get(VlPlatform* pair);
bool vl_platform_compare(const VlPlatform* pair);

// The vendor information file in the configuration directory: vendor,
// product and serial number separated by the bytes 0xC0 0x80.
inline constexpr const char* vl_vendor_file_name = "velanto_vendor.cfg";
inline constexpr std::size_t vl_vendor_file_max = 1156;
inline constexpr std::size_t vl_vendor_field_size = 64;

struct VlVendorInfo {
  char vendor[vl_vendor_field_size];
  char product[vl_vendor_field_size];
  char serial[vl_vendor_field_size];
};

// Fills `info` from the vendor file (or its backup); missing fields are
// empty. 0, or -1 when the file cannot be opened.
int vl_get_vendor_info(VlVendorInfo* info);

// Identity texts are written into buffers of at least this size.
inline constexpr std::size_t vl_identity_text_size = 127;

// Write the defaults ("Brevolt", "Linux PC", the MAC address of the first
// scanned interface or "00:00:00:00:00:00"); return the buffer, or null when
// it is missing or shorter than vl_identity_text_size.
char* vl_default_vendor_id(char* buffer, std::size_t length);
char* vl_default_product_id(char* buffer, std::size_t length);
char* vl_default_serial_number(char* buffer, std::size_t length);

// 0 when the entry's address configuration is usable, -1 when not.
int vl_check_hostconfig(const vl_host_iface* entry);
