// IPv4 sockets for the whole system: TCP for the local IPC connection, UDP
// (unicast or multicast) for RTP and RTCP, with the options the media path
// depends on. Every failing system call is logged as "%s failed: %i - %s".
#pragma once

#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

struct vl_socket {
  // Peer of a TCP socket, destination of a UDP sender, group or source of a
  // UDP receiver.
  sockaddr_in remote_addr;
  // Local side; its address also selects the outgoing multicast interface
  // and the interface of a group membership.
  sockaddr_in bind_to_itf;
  int type;  // SOCK_STREAM or SOCK_DGRAM
  // 0 in a fresh zero-filled record: no socket yet; -1 once closed.
  int handle;
  uint8_t dscp;  // applied to outgoing packets of a producer; 0: none
  // A UDP sender whose destination the kernel keeps (vl_socket_connect_udp).
  bool connected;
};

// Size of the text vl_printable_addr allocates.
inline constexpr std::size_t vl_printable_addr_size = 46;

int vl_socket_init();
void vl_socket_exit();

// Creates the socket in `sock`, or in a new zero-filled record (free with
// delete) when `sock` is null. A record whose socket exists is returned
// unchanged. Null on failure.
vl_socket* vl_socket_ctor(vl_socket* sock, const char* address_text, uint16_t port, int type);
// Closes (a TCP socket after shutting it down) and returns the record; never frees.
vl_socket* vl_socket_dtor(vl_socket* sock);

// Binds the local side; with a multicast remote address and a port, binds the
// group itself. `interface_name` binds to the device when running as root.
int vl_socket_bind(vl_socket* sock, const char* interface_name, const char* local_address_text, uint16_t port);
int vl_socket_listen(vl_socket* sock);
// A new record (free with delete) for the accepted peer, or null.
vl_socket* vl_socket_accept(vl_socket* listening);
// TCP only; a UDP record returns 0 without doing anything.
int vl_socket_connect(vl_socket* sock);

// Fixes a UDP producer's destination (remote_addr) in the kernel, so that
// sends need no route lookup of their own; call it once the producer is
// enabled. Sends then go without an address. 0, or -1 after logging.
int vl_socket_connect_udp(vl_socket* sock);

// Lets the kernel drop, before any wake-up, the datagrams a classic BPF
// program refuses (it sees a UDP datagram from its UDP header on). 0, or -1
// after logging.
struct sock_fprog;
int vl_socket_attach_filter(vl_socket* sock, const sock_fprog* program);

int vl_socket_enable_producer(vl_socket* sock, uint8_t dscp, uint8_t ttl);
int vl_socket_disable_producer(vl_socket* sock);
// Non-blocking receive; joins the group of a multicast remote address.
int vl_socket_enable_consumer(vl_socket* sock);
int vl_socket_disable_consumer(vl_socket* sock);
// After joining: the group's datagrams that this host sends from the
// record's interface address no longer reach the record (the kernel loops
// a host's own multicast back to every member on it; other members of the
// host still get them). Leaving the group lifts it. Nothing for unicast or
// TCP records. 0, or -1 after logging.
int vl_socket_ignore_own_source(vl_socket* sock);

ssize_t vl_socket_send(vl_socket* sock, const void* data, std::size_t length, int flags);
ssize_t vl_socket_recv(vl_socket* sock, void* buffer, std::size_t size, int flags);

// Multiplies the receive (or send) buffer size by 128; returns the size
// requested, 0 on failure.
int vl_socket_largebuf(vl_socket* sock, bool receive);

void vl_socket_close(vl_socket* sock);
int vl_socket_handle(const vl_socket* sock);
void vl_socket_errlog(const char* text);

// select() with a budget in nanoseconds: on a wake-up the budget is reduced
// by the time spent; on a time-out it is left as it was.
int vl_select(int count, fd_set* read_set, fd_set* write_set, fd_set* error_set, uint64_t* budget);

// The group 239.S.C.D for a base address (network byte order in and out).
uint32_t vl_get_mc_addr(uint32_t base_address, int ttl, int scope);
// Dotted IPv4 address of the first interface whose name begins with
// `interface_name`, into 16 bytes at `output`. 0 or -1.
int vl_socket_local_addr(const char* interface_name, char* output);
int vl_get_ip4_addr();
// An IPv4 address (network byte order) in dotted form.
struct VlDottedAddress {
  explicit VlDottedAddress(uint32_t network_order);
  char text[INET_ADDRSTRLEN] = {};
};

// Printable address into `buffer` (vl_printable_addr_size bytes), or into a
// new buffer (free with free()) when `buffer` is null.
char* vl_printable_addr(char* buffer, const sockaddr_in* address);
