// Sockets between the two hosts of a network lab: multicast groups, device
// binding, DSCP and TTL on the wire, TCP across the link.
#include "vlsys/vl_socket.h"

#include "vlsys/vl_log.h"
#include "vltest/log_capture.h"
#include "vltest/netlab.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>

namespace {

using vltest::NetLab;

constexpr const char* group = "239.1.2.3";
constexpr uint16_t media_port = 5004;
const char* const address_a = NetLab::link_address[NetLab::A];
const char* const address_b = NetLab::link_address[NetLab::B];
const char* const device_a = NetLab::link_device[NetLab::A];
const char* const device_b = NetLab::link_device[NetLab::B];

struct SocketDeleter {
  void operator()(vl_socket* sock) const { delete vl_socket_dtor(sock); }
};
using Socket = std::unique_ptr<vl_socket, SocketDeleter>;

int int_option(int fd, int level, int name) {
  int value = -1;
  socklen_t len = sizeof value;
  return getsockopt(fd, level, name, &value, &len) == 0 ? value : -1;
}

std::string bound_device(int fd) {
  char name[IFNAMSIZ + 1] = {};
  socklen_t len = sizeof name;
  return getsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, name, &len) == 0 ? std::string(name) : "<error>";
}

sockaddr_in local_address(int fd) {
  sockaddr_in local{};
  socklen_t len = sizeof local;
  getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len);
  return local;
}

std::string text_of(in_addr address) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

bool readable_within(int fd, int timeout_ms) {
  pollfd pfd = {fd, POLLIN, 0};
  return poll(&pfd, 1, timeout_ms) == 1;
}

// One datagram with the TOS and TTL it arrived with.
struct Arrival {
  std::string payload;
  int tos = -1;
  int ttl = -1;
};

void ask_for_tos_and_ttl(int fd) {
  const int on = 1;
  setsockopt(fd, SOL_IP, IP_RECVTOS, &on, sizeof on);
  setsockopt(fd, SOL_IP, IP_RECVTTL, &on, sizeof on);
}

bool receive_with_header(int fd, Arrival* arrival) {
  if (!readable_within(fd, 2000)) return false;
  char payload[256];
  alignas(cmsghdr) char control[256];
  iovec iov = {payload, sizeof payload};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  const ssize_t n = recvmsg(fd, &msg, 0);
  if (n < 0) return false;
  arrival->payload.assign(payload, static_cast<size_t>(n));
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level != SOL_IP) continue;
    if (c->cmsg_type == IP_TOS) arrival->tos = *reinterpret_cast<const unsigned char*>(CMSG_DATA(c));
    if (c->cmsg_type == IP_TTL) std::memcpy(&arrival->ttl, CMSG_DATA(c), sizeof arrival->ttl);
  }
  return true;
}

class LabSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lab_.ok()) << lab_.error();
    vl_socket_init();
    vl_log_priority_set(nullptr, VL_LOG_DEBUG);
  }

  // A socket made (constructed, bound and enabled) inside `host`.
  Socket make_in(NetLab::Host host, const std::function<vl_socket*()>& make) {
    vl_socket* sock = nullptr;
    lab_.run_in(host, [&] { sock = make(); });
    return Socket(sock);
  }

  Socket group_receiver(const char* group_address, NetLab::Host host = NetLab::B) {
    return make_in(host, [&]() -> vl_socket* {
      vl_socket* sock = vl_socket_ctor(nullptr, group_address, media_port, SOCK_DGRAM);
      if (!sock) return nullptr;
      if (vl_socket_bind(sock, NetLab::link_device[host], NetLab::link_address[host], media_port) != 0 ||
          vl_socket_enable_consumer(sock) != 0) {
        delete vl_socket_dtor(sock);
        return nullptr;
      }
      return sock;
    });
  }

  Socket sender(const char* destination, uint16_t port, uint8_t dscp, uint8_t ttl, NetLab::Host host = NetLab::A) {
    return make_in(host, [&]() -> vl_socket* {
      vl_socket* sock = vl_socket_ctor(nullptr, destination, port, SOCK_DGRAM);
      if (!sock) return nullptr;
      if (vl_socket_bind(sock, NetLab::link_device[host], NetLab::link_address[host], 0) != 0 ||
          vl_socket_enable_producer(sock, dscp, ttl) != 0) {
        delete vl_socket_dtor(sock);
        return nullptr;
      }
      return sock;
    });
  }

  NetLab lab_;
  vltest::LogCapture log_;
};

TEST_F(LabSocketTest, MulticastReceiverBindsTheGroupJoinsAndReceivesAcrossTheLink) {
  Socket receiver = group_receiver(group);
  ASSERT_TRUE(receiver);
  const sockaddr_in bound = local_address(receiver->handle);
  EXPECT_EQ(text_of(bound.sin_addr), group);
  EXPECT_EQ(ntohs(bound.sin_port), media_port);
  EXPECT_EQ(bound_device(receiver->handle), device_b);
  EXPECT_NE(fcntl(receiver->handle, F_GETFL) & O_NONBLOCK, 0);
  EXPECT_TRUE(log_.contains("Bind socket to network interface: veth1!"));
  EXPECT_TRUE(log_.contains("Join address 239.1.2.3:5004!"));
  ask_for_tos_and_ttl(receiver->handle);
  // Bound to its own group, a receiver of another group on the same port
  // sees none of this traffic.
  Socket other = group_receiver("239.1.2.4");
  ASSERT_TRUE(other);

  Socket tx = sender(group, media_port, 34, 1);
  ASSERT_TRUE(tx);
  EXPECT_EQ(bound_device(tx->handle), device_a);
  EXPECT_EQ(text_of(local_address(tx->handle).sin_addr), address_a);
  in_addr multicast_if{};
  socklen_t len = sizeof multicast_if;
  ASSERT_EQ(getsockopt(tx->handle, SOL_IP, IP_MULTICAST_IF, &multicast_if, &len), 0);
  EXPECT_EQ(text_of(multicast_if), address_a);
  EXPECT_EQ(int_option(tx->handle, SOL_IP, IP_MULTICAST_TTL), 1);
  EXPECT_EQ(int_option(tx->handle, SOL_IP, IP_TOS), 136);

  ASSERT_EQ(vl_socket_send(tx.get(), "velanto", 7, 0), 7);
  Arrival arrival;
  ASSERT_TRUE(receive_with_header(receiver->handle, &arrival));
  EXPECT_EQ(arrival.payload, "velanto");
  EXPECT_EQ(arrival.tos, 136);
  EXPECT_EQ(arrival.ttl, 1);
  EXPECT_FALSE(readable_within(other->handle, 200));

  // After leaving, the group's traffic no longer arrives.
  EXPECT_EQ(vl_socket_disable_consumer(receiver.get()), 0);
  EXPECT_TRUE(log_.contains("Leave address 239.1.2.3:5004!"));
  ASSERT_EQ(vl_socket_send(tx.get(), "later", 5, 0), 5);
  EXPECT_FALSE(readable_within(receiver->handle, 300));
}

TEST_F(LabSocketTest, AMemberIgnoringItsOwnSourceMissesItsHostsSendsButNotThePeers) {
  Socket ignoring = group_receiver(group, NetLab::A);
  Socket plain = group_receiver(group, NetLab::A);
  ASSERT_TRUE(ignoring && plain);
  ASSERT_EQ(vl_socket_ignore_own_source(ignoring.get()), 0);
  Socket own = sender(group, media_port, 0, 1, NetLab::A);
  Socket peer = sender(group, media_port, 0, 1, NetLab::B);
  ASSERT_TRUE(own && peer);

  ASSERT_EQ(vl_socket_send(own.get(), "own", 3, 0), 3);
  Arrival arrival;
  ASSERT_TRUE(receive_with_header(plain->handle, &arrival));
  EXPECT_EQ(arrival.payload, "own");
  ASSERT_EQ(vl_socket_send(peer.get(), "peer", 4, 0), 4);
  ASSERT_TRUE(receive_with_header(ignoring->handle, &arrival));
  EXPECT_EQ(arrival.payload, "peer");
  EXPECT_FALSE(readable_within(ignoring->handle, 0));

  // Leaving and joining again lifts the block.
  vl_socket_disable_consumer(ignoring.get());
  ASSERT_EQ(vl_socket_enable_consumer(ignoring.get()), 0);
  ASSERT_EQ(vl_socket_send(own.get(), "again", 5, 0), 5);
  ASSERT_TRUE(receive_with_header(ignoring->handle, &arrival));
  EXPECT_EQ(arrival.payload, "again");
}

TEST_F(LabSocketTest, MulticastSocketWithPortZeroBindsTheLocalAddress) {
  Socket sock = make_in(NetLab::A, [] {
    vl_socket* s = vl_socket_ctor(nullptr, group, media_port, SOCK_DGRAM);
    if (s && vl_socket_bind(s, nullptr, address_a, 0) != 0) vl_socket_close(s);
    return s;
  });
  ASSERT_TRUE(sock);
  EXPECT_EQ(text_of(local_address(sock->handle).sin_addr), address_a);
  EXPECT_EQ(bound_device(sock->handle), "");
}

TEST_F(LabSocketTest, UnicastProducerMarksAndLimitsItsPackets) {
  Socket receiver = make_in(NetLab::B, [] {
    vl_socket* s = vl_socket_ctor(nullptr, address_a, 6000, SOCK_DGRAM);
    if (s && (vl_socket_bind(s, device_b, address_b, 6000) != 0 || vl_socket_enable_consumer(s) != 0))
      vl_socket_close(s);
    return s;
  });
  ASSERT_TRUE(receiver);
  ASSERT_GT(receiver->handle, 0);
  EXPECT_FALSE(log_.contains("Join address"));
  ask_for_tos_and_ttl(receiver->handle);
  char buf[16];
  errno = 0;
  EXPECT_EQ(vl_socket_recv(receiver.get(), buf, sizeof buf, 0), -1) << "non-blocking";
  EXPECT_EQ(errno, EAGAIN);

  Socket tx = sender(address_b, 6000, 46, 1);
  ASSERT_TRUE(tx);
  EXPECT_EQ(int_option(tx->handle, SOL_IP, IP_TTL), 1);
  EXPECT_EQ(int_option(tx->handle, SOL_IP, IP_TOS), 184);
  ASSERT_EQ(vl_socket_send(tx.get(), "first", 5, 0), 5);
  Arrival arrival;
  ASSERT_TRUE(receive_with_header(receiver->handle, &arrival));
  EXPECT_EQ(arrival.payload, "first");
  EXPECT_EQ(arrival.tos, 184);
  EXPECT_EQ(arrival.ttl, 1);

  ASSERT_EQ(vl_socket_send(tx.get(), "second", 6, 0), 6);
  ASSERT_TRUE(readable_within(receiver->handle, 2000));
  EXPECT_EQ(vl_socket_recv(receiver.get(), buf, sizeof buf, 0), 6);
  EXPECT_EQ(std::string(buf, 6), "second");
}

TEST_F(LabSocketTest, SelectWokenByAPacketAfterOneSecondLeavesTheRestOfTheBudget) {
  Socket receiver = make_in(NetLab::B, [] {
    vl_socket* s = vl_socket_ctor(nullptr, address_a, 6001, SOCK_DGRAM);
    if (s && vl_socket_bind(s, nullptr, address_b, 6001) != 0) vl_socket_close(s);
    return s;
  });
  Socket tx = sender(address_b, 6001, 0, 1);
  ASSERT_TRUE(receiver && tx);
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    vl_socket_send(tx.get(), "wake", 4, 0);
  });
  fd_set read_set;
  FD_ZERO(&read_set);
  FD_SET(receiver->handle, &read_set);
  uint64_t budget = 2500000000;
  EXPECT_EQ(vl_select(receiver->handle + 1, &read_set, nullptr, nullptr, &budget), 1);
  late.join();
  EXPECT_NEAR(static_cast<double>(budget), 1.5e9, 0.1e9);
}

TEST_F(LabSocketTest, FailingCallsAreLoggedAndRefused) {
  lab_.run_in(NetLab::A, [&] {
    vl_socket sock{};
    ASSERT_NE(vl_socket_ctor(&sock, address_b, 6000, SOCK_DGRAM), nullptr);
    EXPECT_EQ(vl_socket_bind(&sock, nullptr, "198.18.0.9", 0), -1);
    EXPECT_TRUE(log_.contains(
        "'bind(self->handle, (const struct sockaddr *)&self->bind_to_itf, sizeof(struct sockaddr_in))' failed: 99 - "
        "Cannot assign requested address"));
    vl_socket_dtor(&sock);

    vl_socket other{};
    ASSERT_NE(vl_socket_ctor(&other, address_b, 6000, SOCK_DGRAM), nullptr);
    EXPECT_EQ(vl_socket_bind(&other, "nosuch0", address_a, 0), -1);
    EXPECT_TRUE(log_.contains(
        "'setsockopt(self->handle, SOL_SOCKET, SO_BINDTODEVICE, itf, strlen(itf))' failed: 19 - No such device"));
    vl_socket_dtor(&other);

    // The group is bound, but its membership asks for an interface that
    // does not exist.
    vl_socket member{};
    ASSERT_NE(vl_socket_ctor(&member, group, media_port, SOCK_DGRAM), nullptr);
    ASSERT_EQ(vl_socket_bind(&member, nullptr, "198.18.0.9", media_port), 0);
    EXPECT_EQ(vl_socket_enable_consumer(&member), -1);
    EXPECT_TRUE(log_.contains(
        "'setsockopt(self->handle, SOL_IP, IP_ADD_MEMBERSHIP, (const char *)&mc_group, sizeof(mc_group))' failed: 19 "
        "- No such device"));
    EXPECT_TRUE(log_.contains("vl_socket_enable_consumer() failed on address 239.1.2.3:5004"));
    EXPECT_EQ(vl_socket_enable_producer(&member, 34, 1), -1);
    EXPECT_TRUE(log_.contains(
        "'setsockopt(self->handle, SOL_IP, IP_MULTICAST_IF, (const char *)&self->bind_to_itf.sin_addr, "
        "sizeof(self->bind_to_itf.sin_addr))' failed: 99 - Cannot assign requested address"));
    EXPECT_TRUE(log_.contains("vl_socket_enable_producer() failed on address 239.1.2.3:5004"));
    EXPECT_EQ(member.dscp, 0) << "a failed producer keeps its old DSCP";
    vl_socket_dtor(&member);
  });
}

// Device binding needs root; without it the bind still succeeds, silently.
TEST_F(LabSocketTest, WithoutRootBindSkipsTheDeviceBindingSilently) {
  const int status = lab_.run_child_in(NetLab::B, [] {
    if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) return 10;
    vltest::LogCapture log;
    vl_socket_init();
    vl_log_priority_set(nullptr, VL_LOG_DEBUG);
    vl_socket member{};
    if (!vl_socket_ctor(&member, group, media_port, SOCK_DGRAM)) return 11;
    if (vl_socket_bind(&member, device_b, address_b, media_port) != 0) return 12;
    if (bound_device(member.handle) != "") return 13;
    vl_socket unicast{};
    if (!vl_socket_ctor(&unicast, address_a, 6000, SOCK_DGRAM)) return 14;
    if (vl_socket_bind(&unicast, device_b, address_b, 6000) != 0) return 15;
    if (bound_device(unicast.handle) != "") return 16;
    if (!log.records().empty()) return 17;
    vl_socket_dtor(&member);
    vl_socket_dtor(&unicast);
    return 0;
  });
  EXPECT_EQ(status, 0);
}

TEST_F(LabSocketTest, TcpConnectionAcrossTheLink) {
  constexpr uint16_t port = 42538;
  Socket listener = make_in(NetLab::B, [] {
    vl_socket* s = vl_socket_ctor(nullptr, "0.0.0.0", 0, SOCK_STREAM);
    if (s && (vl_socket_bind(s, nullptr, address_b, port) != 0 || vl_socket_listen(s) != 0)) vl_socket_close(s);
    return s;
  });
  ASSERT_TRUE(listener);
  ASSERT_GT(listener->handle, 0);
  Socket client = make_in(NetLab::A, [] {
    vl_socket* s = vl_socket_ctor(nullptr, address_b, port, SOCK_STREAM);
    if (s && vl_socket_connect(s) != 0) vl_socket_close(s);
    return s;
  });
  ASSERT_TRUE(client);
  ASSERT_GT(client->handle, 0);
  Socket peer(vl_socket_accept(listener.get()));
  ASSERT_TRUE(peer);
  const uint16_t client_port = ntohs(local_address(client->handle).sin_port);
  EXPECT_TRUE(log_.contains("Accepted connection from 198.18.0.1:" + std::to_string(client_port) + "!"));

  char buf[16] = {};
  EXPECT_EQ(vl_socket_send(client.get(), "hello", 6, 0), 6);
  EXPECT_EQ(vl_socket_recv(peer.get(), buf, sizeof buf, 0), 6);
  EXPECT_STREQ(buf, "hello");
  EXPECT_EQ(vl_socket_send(peer.get(), "back", 5, 0), 5);
  EXPECT_EQ(vl_socket_recv(client.get(), buf, sizeof buf, 0), 5);
  EXPECT_STREQ(buf, "back");
  peer.reset();
  EXPECT_TRUE(log_.contains("Closing connection to 198.18.0.1:" + std::to_string(client_port)));
  EXPECT_EQ(vl_socket_recv(client.get(), buf, sizeof buf, 0), 0);
}

TEST_F(LabSocketTest, LocalAddressOfAnInterfaceByNamePrefix) {
  ASSERT_TRUE(lab_.add_second_link()) << lab_.error();
  lab_.run_in(NetLab::A, [] {
    char out[16];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(vl_socket_local_addr("veth0", out), 0);
    EXPECT_STREQ(out, "198.18.0.1");
    EXPECT_EQ(out[15], 0) << "output zero-filled";
    EXPECT_EQ(vl_socket_local_addr("veth2", out), 0);
    EXPECT_STREQ(out, "198.18.1.1");
    EXPECT_EQ(vl_socket_local_addr("veth", out), 0) << "first interface beginning with the name";
    EXPECT_STREQ(out, "198.18.0.1");
    EXPECT_EQ(vl_socket_local_addr("lo", out), -1) << "loopback is not listed";
    EXPECT_EQ(vl_socket_local_addr("eth0", out), -1);
    EXPECT_EQ(vl_socket_local_addr(nullptr, out), -1);
  });
}

}  // namespace
