#include "vlsys/host_network.h"

#include "vlsys/vl_log.h"

#include <net/if.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t error_text_size = 256;
// Room for 25 entries at first; the list grows when the kernel fills it.
constexpr std::size_t initial_ifconf_size = 1024;
constexpr std::size_t max_ifconf_size = 1 << 20;

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool is_loopback(const ifreq& entry) { return std::strncmp(entry.ifr_name, "lo", 2) == 0; }

// The kernel's IPv4 interface configuration list. A fixed buffer would
// silently drop interfaces beyond its size, so it grows until the kernel
// leaves room to spare.
bool interface_list(int fd, std::vector<ifreq>& entries) {
  for (std::size_t size = initial_ifconf_size; size <= max_ifconf_size; size *= 2) {
    entries.assign(size / sizeof(ifreq), ifreq{});
    ifconf conf{};
    conf.ifc_len = static_cast<int>(entries.size() * sizeof(ifreq));
    conf.ifc_req = entries.data();
    if (ioctl(fd, SIOCGIFCONF, &conf) != 0) return false;
    const std::size_t filled = static_cast<std::size_t>(conf.ifc_len) / sizeof(ifreq);
    if (filled < entries.size()) {
      entries.resize(filled);
      return true;
    }
  }
  errno = ENOBUFS;
  return false;
}

// Copies the interface's address answer of `request` into `out`.
bool query_address(int fd, unsigned long request, const char* name, uint32_t* out) {
  ifreq req{};
  std::memcpy(req.ifr_name, name, IFNAMSIZ);
  if (ioctl(fd, request, &req) != 0) return false;
  *out = reinterpret_cast<const sockaddr_in*>(&req.ifr_addr)->sin_addr.s_addr;
  return true;
}

// Fills `entry` for the interface `name`; false when it is to be skipped.
bool describe_interface(int fd, const char* name, vl_host_iface* entry) {
  char err[error_text_size];
  std::memcpy(entry->name, name, vl_iface_name_size);
  ifreq req{};
  std::memcpy(req.ifr_name, name, IFNAMSIZ);
  if (ioctl(fd, SIOCGIFINDEX, &req) != 0) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Error getting ifindex for adapter %s: %s", entry->name,
           vl_strerror(errno, err, sizeof err));
    return false;
  }
  entry->ifindex = req.ifr_ifindex;
  if (!query_address(fd, SIOCGIFADDR, name, &entry->addr)) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "get IP address: %s", vl_strerror(errno, err, sizeof err));
    return false;
  }
  if (!query_address(fd, SIOCGIFNETMASK, name, &entry->mask)) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "get subnet: %s", vl_strerror(errno, err, sizeof err));
    return false;
  }
  entry->addr_mode = 0;
  std::memset(&req, 0, sizeof req);
  std::memcpy(req.ifr_name, name, IFNAMSIZ);
  if (ioctl(fd, SIOCGIFHWADDR, &req) != 0) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "get MAC: %s", vl_strerror(errno, err, sizeof err));
    std::memset(entry->mac, 0, sizeof entry->mac);
  } else {
    std::memcpy(entry->mac, req.ifr_hwaddr.sa_data, sizeof entry->mac);
  }
  return true;
}

}  // namespace

int vl_get_num_network_ifaces() {
  const Descriptor fd(socket(AF_INET, SOCK_DGRAM, 0));
  if (fd.get() < 0) return -1;
  std::vector<ifreq> entries;
  if (!interface_list(fd.get(), entries)) return -1;
  int count = 0;
  for (const ifreq& entry : entries)
    if (!is_loopback(entry)) ++count;
  return count;
}

int vl_get_network_ifaces(int max, vl_host_iface* entries) {
  if (!entries) {
    errno = EFAULT;
    return -1;
  }
  const Descriptor fd(socket(AF_INET, SOCK_DGRAM, 0));
  if (fd.get() < 0) return -1;
  std::vector<ifreq> list;
  if (!interface_list(fd.get(), list)) return -1;
  int filled = 0;
  for (const ifreq& item : list) {
    if (filled >= max) break;
    if (is_loopback(item)) continue;
    // A skipped interface leaves its entry to the next one.
    if (describe_interface(fd.get(), item.ifr_name, &entries[filled])) ++filled;
  }
  return filled;
}

uint32_t vl_get_gateway() {
  FILE* routes = std::fopen("/proc/net/route", "r");
  if (!routes) return 0;
  constexpr unsigned route_up = 0x1;
  constexpr unsigned route_gateway = 0x2;
  uint32_t gateway = 0;
  char line[128];
  while (std::fgets(line, sizeof line, routes)) {
    // The kernel pads each line to 127 characters, so the newline arrives
    // as a short line of its own.
    if (std::strlen(line) <= 7) continue;
    char itf[sizeof line];
    unsigned long destination = 0;
    unsigned long via = 0;
    unsigned flags = 0;
    const int fields = std::sscanf(line, "%127s%lx%lx%x\n", itf, &destination, &via, &flags);
    if (fields < 0) break;
    // Only the default route names the default gateway; the kernel lists
    // the preferred one (lowest metric) first.
    if (fields == 4 && (flags & (route_up | route_gateway)) == (route_up | route_gateway) && destination == 0) {
      gateway = static_cast<uint32_t>(via);
      break;
    }
  }
  std::fclose(routes);
  return gateway;
}

int vl_get_hostname(char* buffer) {
  if (!buffer) {
    errno = EFAULT;
    return -1;
  }
  return gethostname(buffer, vl_hostname_size);
}

int vl_set_hostname(const char* name) {
  if (!name) {
    errno = EFAULT;
    return -1;
  }
  return sethostname(name, std::strlen(name)) == 0 ? 0 : -1;
}

int vl_safe_reboot() {
  sync();
  return kill(1, SIGTERM);
}

int vl_set_iface() { return -1; }

int vl_set_gateway(uint32_t) { return -1; }

int vl_update_firmware_cb(const void*, std::size_t) {
  VL_LOG(vl_log_general(), VL_LOG_ERROR, "Firmware update not supported");
  return -1;
}

int vl_set_samplerate(vl_rational) {
  VL_LOG(vl_log_general(), VL_LOG_ERROR, "Samplerate modification is not supported");
  return -1;
}
