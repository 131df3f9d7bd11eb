#include "vlsys/vl_socket.h"

#include "vlsys/host_network.h"
#include "vlsys/vl_log.h"
#include "vlsys/vl_time.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/filter.h>
#include <net/if.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

VL_LOG_CATEGORY(qos_category, "velanto.socket.qos")

constexpr std::size_t error_text_size = 256;

// Dotted text of an address, for log messages.
struct AddrText {
  explicit AddrText(const sockaddr_in& address) { vl_printable_addr(text, &address); }
  char text[vl_printable_addr_size];
};

bool is_multicast(const sockaddr_in& address) { return IN_MULTICAST(ntohl(address.sin_addr.s_addr)); }

bool is_udp(const vl_socket* sock) { return sock->type == SOCK_DGRAM; }

// Records with handle 0 have no socket yet, -1 are closed.
bool has_descriptor(const vl_socket* sock) { return sock->handle > 0; }

void log_failed_on(const char* operation, const vl_socket* sock) {
  const AddrText remote(sock->remote_addr);
  VL_LOG(vl_log_general(), VL_LOG_ERROR, "%s() failed on address %s:%hu", operation, remote.text,
         ntohs(sock->remote_addr.sin_port));
}

int set_nonblocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return -1;
  return fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// ORs the DSCP into IP_TOS, keeping the ECN bits and whatever is set already.
int apply_dscp(vl_socket* sock) {
  if (sock->dscp == 0) return 0;
  char err[error_text_size];
  int tos = 0;
  socklen_t len = sizeof tos;
  if (getsockopt(sock->handle, SOL_IP, IP_TOS, &tos, &len) != 0) {
    VL_LOG(qos_category(), VL_LOG_ERROR, "Error getting IP_TOS (DSCP) socket option:%s",
           vl_strerror(errno, err, sizeof err));
    tos = 0;
  }
  tos |= sock->dscp << 2;
  if (setsockopt(sock->handle, SOL_IP, IP_TOS, &tos, sizeof tos) != 0) {
    VL_LOG(qos_category(), VL_LOG_ERROR, "Error setting IP_TOS (DSCP) socket option: %s",
           vl_strerror(errno, err, sizeof err));
    return -1;
  }
  return 0;
}

ip_mreq membership_of(const vl_socket* sock) {
  ip_mreq request{};
  request.imr_multiaddr = sock->remote_addr.sin_addr;
  request.imr_interface = sock->bind_to_itf.sin_addr;
  return request;
}

// A connected UDP socket reports an ICMP error that an earlier datagram drew
// (port or host unreachable) on its next send, which then sends nothing;
// unconnected, it would never have heard of it. That send is repeated once,
// so that connecting changes nothing that a sender sees.
bool reports_earlier_datagram(int error) {
  return error == ECONNREFUSED || error == EHOSTUNREACH || error == ENETUNREACH || error == EHOSTDOWN ||
         error == ENOPROTOOPT;
}

ssize_t send_connected(int fd, const void* data, std::size_t length, int flags) {
  const ssize_t sent = send(fd, data, length, flags);
  if (sent >= 0 || !reports_earlier_datagram(errno)) return sent;
  return send(fd, data, length, flags);
}

bool bind_to_device(vl_socket* sock, const char* itf) {
  if (setsockopt(sock->handle, SOL_SOCKET, SO_BINDTODEVICE, itf, static_cast<socklen_t>(strlen(itf))) == 0)
    return true;
  vl_socket_errlog("'setsockopt(self->handle, SOL_SOCKET, SO_BINDTODEVICE, itf, strlen(itf))'");
  return false;
}

}  // namespace

int vl_socket_init() {
  qos_category();  // listed from start-up on
  return 0;
}

void vl_socket_exit() {}

vl_socket* vl_socket_ctor(vl_socket* sock, const char* address_text, uint16_t port, int type) {
  // inet_addr cannot tell 255.255.255.255 from an error, so it is refused too.
  const in_addr_t address = address_text ? inet_addr(address_text) : INADDR_NONE;
  if (address == INADDR_NONE) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Invalid address found!");
    errno = EINVAL;
    return nullptr;
  }
  vl_socket* target = sock ? sock : new (std::nothrow) vl_socket{};
  if (!target) {
    VL_LOG(vl_log_general(), VL_LOG_FATAL, "Could not allocate memory for new socket!");
    errno = ENOMEM;
    return nullptr;
  }
  if (target->handle > 0) return target;

  const int fd = socket(AF_INET, type, 0);
  if (fd < 0) {
    const int saved = errno;
    char err[error_text_size];
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Could not create socket descriptor: %s!",
           vl_strerror(saved, err, sizeof err));
    if (!sock) delete target;
    errno = saved;
    return nullptr;
  }
  target->type = type;
  target->handle = fd;
  target->connected = false;
  const int reuse = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0) {
    vl_socket_errlog("'setsockopt(self->handle, SOL_SOCKET, SO_REUSEADDR, (const char *)&reuse, sizeof(reuse))'");
    const int saved = errno;
    close(fd);
    target->handle = -1;
    if (!sock) delete target;
    errno = saved;
    return nullptr;
  }
  std::memset(&target->remote_addr, 0, sizeof target->remote_addr);
  target->remote_addr.sin_family = AF_INET;
  target->remote_addr.sin_port = htons(port);
  target->remote_addr.sin_addr.s_addr = address;
  return target;
}

vl_socket* vl_socket_dtor(vl_socket* sock) {
  if (!sock) return nullptr;
  const AddrText remote(sock->remote_addr);
  VL_LOG(vl_log_general(), VL_LOG_DEBUG, "Closing connection to %s:%hu", remote.text,
         ntohs(sock->remote_addr.sin_port));
  if (has_descriptor(sock)) {
    if (sock->type == SOCK_STREAM) shutdown(sock->handle, SHUT_RDWR);
    close(sock->handle);
  }
  sock->handle = -1;
  sock->connected = false;
  return sock;
}

int vl_socket_bind(vl_socket* sock, const char* interface_name, const char* local_address_text, uint16_t port) {
  if (!sock || !local_address_text) return -1;
  std::memset(&sock->bind_to_itf, 0, sizeof sock->bind_to_itf);
  sock->bind_to_itf.sin_family = sock->remote_addr.sin_family;
  sock->bind_to_itf.sin_port = htons(port);
  sock->bind_to_itf.sin_addr.s_addr = inet_addr(local_address_text);

  // Without root rights the device binding is left out silently.
  const bool device_binding = interface_name && geteuid() == 0;
  if (port != 0 && is_multicast(sock->remote_addr)) {
    // Bound to the group itself, so that only the group's traffic arrives.
    if (bind(sock->handle, reinterpret_cast<const sockaddr*>(&sock->remote_addr), sizeof(sockaddr_in)) != 0) {
      vl_socket_errlog("'bind(self->handle, (const struct sockaddr *)&self->remote_addr, sizeof(struct sockaddr_in))'");
      return -1;
    }
    if (device_binding)
      VL_LOG(vl_log_general(), VL_LOG_DEBUG, "Bind socket to network interface: %s!", interface_name);
  } else if (bind(sock->handle, reinterpret_cast<const sockaddr*>(&sock->bind_to_itf), sizeof(sockaddr_in)) != 0) {
    vl_socket_errlog("'bind(self->handle, (const struct sockaddr *)&self->bind_to_itf, sizeof(struct sockaddr_in))'");
    return -1;
  }
  if (device_binding && !bind_to_device(sock, interface_name)) return -1;
  return 0;
}

int vl_socket_listen(vl_socket* sock) {
  if (!sock) return -1;
  return listen(sock->handle, 1);
}

vl_socket* vl_socket_accept(vl_socket* listening) {
  if (!listening) return nullptr;
  vl_socket* peer = new (std::nothrow) vl_socket{};
  if (!peer) {
    VL_LOG(vl_log_general(), VL_LOG_FATAL, "Could not allocate memory for new socket!");
    errno = ENOMEM;
    return nullptr;
  }
  peer->type = SOCK_STREAM;
  socklen_t len = sizeof peer->remote_addr;
  const int fd = accept(listening->handle, reinterpret_cast<sockaddr*>(&peer->remote_addr), &len);
  if (fd < 0) {
    const int saved = errno;
    char err[error_text_size];
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Could not create socket descriptor: %s!",
           vl_strerror(saved, err, sizeof err));
    delete peer;
    errno = saved;
    return nullptr;
  }
  peer->handle = fd;
  const AddrText remote(peer->remote_addr);
  VL_LOG(vl_log_general(), VL_LOG_INFO, "Accepted connection from %s:%hu!", remote.text,
         ntohs(peer->remote_addr.sin_port));
  return peer;
}

int vl_socket_connect(vl_socket* sock) {
  if (!sock) return -1;
  if (sock->type != SOCK_STREAM) return 0;
  if (connect(sock->handle, reinterpret_cast<const sockaddr*>(&sock->remote_addr), sizeof sock->remote_addr) != 0) {
    vl_socket_errlog(
        "'connect(self->handle, (const struct sockaddr *)&self->remote_addr, sizeof(self->remote_addr))'");
    return -1;
  }
  return 0;
}

int vl_socket_connect_udp(vl_socket* sock) {
  if (!sock || !is_udp(sock)) return -1;
  if (connect(sock->handle, reinterpret_cast<const sockaddr*>(&sock->remote_addr), sizeof sock->remote_addr) != 0) {
    vl_socket_errlog(
        "'connect(self->handle, (const struct sockaddr *)&self->remote_addr, sizeof(self->remote_addr))'");
    return -1;
  }
  sock->connected = true;
  return 0;
}

int vl_socket_attach_filter(vl_socket* sock, const sock_fprog* program) {
  if (!sock || !program) return -1;
  if (setsockopt(sock->handle, SOL_SOCKET, SO_ATTACH_FILTER, program, sizeof *program) != 0) {
    vl_socket_errlog("'setsockopt(self->handle, SOL_SOCKET, SO_ATTACH_FILTER, program, sizeof(*program))'");
    return -1;
  }
  return 0;
}

int vl_socket_enable_producer(vl_socket* sock, uint8_t dscp, uint8_t ttl) {
  if (!sock) return -1;
  if (!is_udp(sock)) return 0;
  // The TTL options take a one-byte value here.
  bool ok = true;
  if (is_multicast(sock->remote_addr)) {
    if (setsockopt(sock->handle, SOL_IP, IP_MULTICAST_IF, &sock->bind_to_itf.sin_addr,
                   sizeof sock->bind_to_itf.sin_addr) != 0) {
      vl_socket_errlog(
          "'setsockopt(self->handle, SOL_IP, IP_MULTICAST_IF, (const char *)&self->bind_to_itf.sin_addr, "
          "sizeof(self->bind_to_itf.sin_addr))'");
      ok = false;
    } else if (setsockopt(sock->handle, SOL_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0) {
      vl_socket_errlog("'setsockopt(self->handle, SOL_IP, IP_MULTICAST_TTL, (const char *)&ttl, sizeof(ttl))'");
      ok = false;
    }
  } else if (setsockopt(sock->handle, SOL_IP, IP_TTL, &ttl, sizeof ttl) != 0) {
    vl_socket_errlog("'setsockopt(self->handle, SOL_IP, IP_TTL, (const char *)&ttl, sizeof(ttl))'");
    ok = false;
  }
  if (!ok) {
    const int saved = errno;
    log_failed_on("vl_socket_enable_producer", sock);
    errno = saved;
    return -1;
  }
  sock->dscp = dscp;
  // Marking is a wish, not a condition for sending.
  if (apply_dscp(sock) != 0) VL_LOG(qos_category(), VL_LOG_ERROR, "set DSCP failed with errno %d", errno);
  return 0;
}

int vl_socket_disable_producer(vl_socket*) { return 0; }

int vl_socket_enable_consumer(vl_socket* sock) {
  if (!sock) return -1;
  if (!is_udp(sock)) return 0;
  bool ok = true;
  if (set_nonblocking(sock->handle) != 0) {
    vl_socket_errlog("'vl_socket_nonblock(self, 1)'");
    ok = false;
  } else if (is_multicast(sock->remote_addr)) {
    const ip_mreq mc_group = membership_of(sock);
    const AddrText group(sock->remote_addr);
    VL_LOG(vl_log_general(), VL_LOG_DEBUG, "Join address %s:%i!", group.text, ntohs(sock->remote_addr.sin_port));
    if (setsockopt(sock->handle, SOL_IP, IP_ADD_MEMBERSHIP, &mc_group, sizeof mc_group) != 0) {
      vl_socket_errlog(
          "'setsockopt(self->handle, SOL_IP, IP_ADD_MEMBERSHIP, (const char *)&mc_group, sizeof(mc_group))'");
      ok = false;
    }
  }
  if (!ok) {
    const int saved = errno;
    log_failed_on("vl_socket_enable_consumer", sock);
    errno = saved;
    return -1;
  }
  sock->dscp = 0;
  return 0;
}

int vl_socket_ignore_own_source(vl_socket* sock) {
  if (!sock) return -1;
  if (!is_udp(sock) || !is_multicast(sock->remote_addr)) return 0;
  const ip_mreq member = membership_of(sock);
  ip_mreq_source block{};
  block.imr_multiaddr = member.imr_multiaddr;
  block.imr_interface = member.imr_interface;
  block.imr_sourceaddr = member.imr_interface;
  if (setsockopt(sock->handle, SOL_IP, IP_BLOCK_SOURCE, &block, sizeof block) == 0) return 0;
  vl_socket_errlog("'setsockopt(self->handle, SOL_IP, IP_BLOCK_SOURCE, (const char *)&block, sizeof(block))'");
  return -1;
}

int vl_socket_disable_consumer(vl_socket* sock) {
  if (!sock) return -1;
  if (is_udp(sock) && is_multicast(sock->remote_addr)) {
    const ip_mreq mc_group = membership_of(sock);
    const AddrText group(sock->remote_addr);
    VL_LOG(vl_log_general(), VL_LOG_DEBUG, "Leave address %s:%i!", group.text, ntohs(sock->remote_addr.sin_port));
    setsockopt(sock->handle, SOL_IP, IP_DROP_MEMBERSHIP, &mc_group, sizeof mc_group);
  }
  return 0;
}

ssize_t vl_socket_send(vl_socket* sock, const void* data, std::size_t length, int flags) {
  if (!sock) return -1;
  switch (sock->type) {
    case SOCK_STREAM:
      return send(sock->handle, data, length, flags);
    case SOCK_DGRAM:
      if (sock->connected) return send_connected(sock->handle, data, length, flags);
      return sendto(sock->handle, data, length, flags, reinterpret_cast<const sockaddr*>(&sock->remote_addr),
                    sizeof sock->remote_addr);
    default:
      errno = EOPNOTSUPP;
      return -1;
  }
}

ssize_t vl_socket_recv(vl_socket* sock, void* buffer, std::size_t size, int flags) {
  if (!sock) return -1;
  switch (sock->type) {
    case SOCK_STREAM:
      return recv(sock->handle, buffer, size, flags);
    case SOCK_DGRAM: {
      sockaddr_in sender{};
      socklen_t len = sizeof sender;
      return recvfrom(sock->handle, buffer, size, flags, reinterpret_cast<sockaddr*>(&sender), &len);
    }
    default:
      errno = EOPNOTSUPP;
      return -1;
  }
}

int vl_socket_largebuf(vl_socket* sock, bool receive) {
  if (!sock) return 0;
  const int option = receive ? SO_RCVBUF : SO_SNDBUF;
  int current = 0;
  socklen_t len = sizeof current;
  if (getsockopt(sock->handle, SOL_SOCKET, option, &current, &len) != 0) return 0;
  // A large default (net.core.*mem_default) must not overflow the product.
  const long long wanted = static_cast<long long>(current) * 128;
  const int size = wanted > INT_MAX ? INT_MAX : static_cast<int>(wanted);
  if (setsockopt(sock->handle, SOL_SOCKET, option, &size, sizeof size) != 0) return 0;
  return size;
}

void vl_socket_close(vl_socket* sock) {
  if (!sock || sock->handle == -1) return;
  if (has_descriptor(sock)) close(sock->handle);
  sock->handle = -1;
}

int vl_socket_handle(const vl_socket* sock) { return sock ? sock->handle : -1; }

void vl_socket_errlog(const char* text) {
  const int saved = errno;
  char err[error_text_size];
  VL_LOG(vl_log_general(), VL_LOG_ERROR, "%s failed: %i - %s", text, saved, vl_strerror(saved, err, sizeof err));
  errno = saved;
}

int vl_select(int count, fd_set* read_set, fd_set* write_set, fd_set* error_set, uint64_t* budget) {
  if (!budget) {
    errno = EFAULT;
    return -1;
  }
  // The budget is a duration: measured on the monotonic clock so that a
  // step of the wall clock neither stretches nor cuts it.
  const uint64_t start = vl_system_clock();
  timeval timeout{};
  timeout.tv_sec = static_cast<time_t>(*budget / vl_ns_per_second);
  timeout.tv_usec = static_cast<suseconds_t>((*budget % vl_ns_per_second) / 1000);
  const int result = select(count, read_set, write_set, error_set, &timeout);
  if (result == 0) return 0;
  const int saved = errno;
  const uint64_t spent = vl_system_clock() - start;
  *budget = spent < *budget ? *budget - spent : 0;
  errno = saved;
  return result;
}

uint32_t vl_get_mc_addr(uint32_t base_address, int ttl, int scope) {
  if (ttl != 1) VL_LOG(vl_log_general(), VL_LOG_ERROR, "TTL>1 is not supported by this version");
  const uint32_t base = ntohl(base_address);
  const uint32_t c = (base >> 8) & 0xff;
  const uint32_t d = base & 0xff;
  uint32_t s = static_cast<uint32_t>(scope) & 127;
  if (s == 0) s = c == 0 ? 127 : 0;
  return htonl(239u << 24 | s << 16 | c << 8 | d);
}

int vl_socket_local_addr(const char* interface_name, char* output) {
  if (!interface_name || !output) return -1;
  const int count = vl_get_num_network_ifaces();
  if (count <= 0) return -1;
  std::vector<vl_host_iface> ifaces(static_cast<std::size_t>(count));
  const int found = vl_get_network_ifaces(count, ifaces.data());
  const std::size_t len = strnlen(interface_name, vl_iface_name_size);
  for (int i = 0; i < found; ++i) {
    const vl_host_iface& iface = ifaces[static_cast<std::size_t>(i)];
    if (std::strncmp(iface.name, interface_name, len) != 0) continue;
    std::memset(output, 0, INET_ADDRSTRLEN);
    in_addr address{};
    address.s_addr = iface.addr;
    inet_ntop(AF_INET, &address, output, INET_ADDRSTRLEN);
    return 0;
  }
  return -1;
}

int vl_get_ip4_addr() { return -1; }

VlDottedAddress::VlDottedAddress(uint32_t network_order) {
  const in_addr address{network_order};
  inet_ntop(AF_INET, &address, text, sizeof text);
}

char* vl_printable_addr(char* buffer, const sockaddr_in* address) {
  char* text = buffer ? buffer : static_cast<char*>(std::malloc(vl_printable_addr_size));
  if (!text) return nullptr;
  // Only IPv4 addresses fit the record; anything else is not printable.
  if (!address || address->sin_family != AF_INET ||
      !inet_ntop(AF_INET, &address->sin_addr, text, vl_printable_addr_size))
    std::strcpy(text, "--none--");
  return text;
}
