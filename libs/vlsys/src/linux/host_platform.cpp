#include "vlsys/host_platform.h"

#include "vlsys/host_config.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr std::array<unsigned char, 2> field_separator = {0xC0, 0x80};
constexpr uint32_t max_addr_mode = 3;
constexpr uint32_t addr_mode_fixed = 0;
constexpr uint32_t first_multicast_address = 0xE0000000;  // 224.0.0.0

char* write_default(char* buffer, std::size_t length, const char* text) {
  if (!buffer || length < vl_identity_text_size) return nullptr;
  std::memset(buffer, 0, length);
  std::snprintf(buffer, length, "%s", text);
  return buffer;
}

// Copies [begin, end) cut to the field size, terminated.
void copy_field(char* field, const unsigned char* begin, const unsigned char* end) {
  const std::size_t length = std::min(static_cast<std::size_t>(end - begin), vl_vendor_field_size - 1);
  std::memcpy(field, begin, length);
  field[length] = '\0';
}

// The first separator in [begin, end), or end.
const unsigned char* find_separator(const unsigned char* begin, const unsigned char* end) {
  return std::search(begin, end, field_separator.begin(), field_separator.end());
}

// The field from `begin` up to the next separator; returns where the next
// field starts (end when there is none).
const unsigned char* take_field(char* field, const unsigned char* begin, const unsigned char* end) {
  const unsigned char* separator = find_separator(begin, end);
  copy_field(field, begin, separator);
  return separator == end ? end : separator + field_separator.size();
}

// Mask with its one bits as one run from the most significant bit.
bool is_contiguous_mask(uint32_t mask) {
  const uint32_t host_bits = ~mask;
  return (host_bits & (host_bits + 1)) == 0;
}

bool is_valid_fixed_address(uint32_t addr, uint32_t mask, uint32_t gateway) {
  // At least two host bits: a subnet needs room for more than network and
  // broadcast addresses.
  if (mask == 0 || (mask & 0x3) != 0 || !is_contiguous_mask(mask)) return false;
  if (addr >= first_multicast_address) return false;
  if ((addr & mask) == 0 || (addr & ~mask) == 0) return false;
  if (gateway == 0) return true;
  return (gateway & ~mask) != 0 && (gateway & mask) == (addr & mask);
}

}  // namespace

VlPlatform* vl_platform_get(VlPlatform* pair) {
  if (pair) *pair = {vl_platform_linux_pc, 1};
  return pair;
}

bool vl_platform_compare(const VlPlatform* pair) {
  return pair && pair->type == vl_platform_linux_pc && pair->variant == 1;
}

int vl_get_vendor_info(VlVendorInfo* info) {
  if (!info) {
    errno = EFAULT;
    return -1;
  }
  const int fd = vl_config_open_read(vl_vendor_file_name);
  if (fd < 0) return -1;
  std::array<unsigned char, vl_vendor_file_max> content{};
  // A read that fails counts as an empty file.
  const ssize_t got = read(fd, content.data(), content.size());
  vl_config_close_read(fd);
  const unsigned char* begin = content.data();
  const unsigned char* end = begin + std::max<ssize_t>(got, 0);
  while (end > begin && end[-1] <= 31) --end;
  const unsigned char* next = take_field(info->vendor, begin, end);
  next = take_field(info->product, next, end);
  copy_field(info->serial, next, end);
  return 0;
}

char* vl_default_vendor_id(char* buffer, std::size_t length) { return write_default(buffer, length, "Brevolt"); }

char* vl_default_product_id(char* buffer, std::size_t length) { return write_default(buffer, length, "Linux PC"); }

char* vl_default_serial_number(char* buffer, std::size_t length) {
  if (!write_default(buffer, length, "00:00:00:00:00:00")) return nullptr;
  const int count = vl_get_num_network_ifaces();
  if (count <= 0) return buffer;
  std::vector<vl_host_iface> entries(static_cast<std::size_t>(count));
  const int filled = vl_get_network_ifaces(count, entries.data());
  if (filled <= 0) return buffer;
  const auto first = std::find_if(entries.begin(), entries.begin() + filled,
                                  [](const vl_host_iface& entry) { return entry.addr_mode != max_addr_mode; });
  if (first == entries.begin() + filled) return buffer;
  const uint8_t* mac = first->mac;
  std::snprintf(buffer, length, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
  return buffer;
}

int vl_check_hostconfig(const vl_host_iface* entry) {
  if (!entry || entry->addr_mode > max_addr_mode) return -1;
  if (entry->addr_mode != addr_mode_fixed) return 0;
  return is_valid_fixed_address(ntohl(entry->addr), ntohl(entry->mask), ntohl(entry->gateway)) ? 0 : -1;
}
