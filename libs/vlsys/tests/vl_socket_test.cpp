// Sockets without leaving the machine: construction, options, select budget,
// addresses, and TCP over 127.0.0.1.
#include "vlsys/vl_socket.h"

#include "vlsys/vl_log.h"
#include "vltest/log_capture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

uint32_t addr(const char* text) { return inet_addr(text); }

int int_option(int fd, int level, int name) {
  int value = -1;
  socklen_t len = sizeof value;
  return getsockopt(fd, level, name, &value, &len) == 0 ? value : -1;
}

uint16_t local_port(const vl_socket& sock) {
  sockaddr_in local{};
  socklen_t len = sizeof local;
  getsockname(sock.handle, reinterpret_cast<sockaddr*>(&local), &len);
  return ntohs(local.sin_port);
}

class SocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vl_socket_init();
    vl_log_priority_set(nullptr, VL_LOG_DEBUG);
  }
  void TearDown() override {
    for (vl_socket* s : {&a_, &b_}) vl_socket_dtor(s);
  }
  vltest::LogCapture log_;
  vl_socket a_{};
  vl_socket b_{};
};

TEST_F(SocketTest, ConstructorAcceptsAnyAddressAndFillsTheRecord) {
  ASSERT_EQ(vl_socket_ctor(&a_, "0.0.0.0", 5004, SOCK_DGRAM), &a_);
  EXPECT_GT(a_.handle, 0);
  EXPECT_EQ(a_.type, SOCK_DGRAM);
  EXPECT_EQ(a_.remote_addr.sin_family, AF_INET);
  EXPECT_EQ(a_.remote_addr.sin_port, htons(5004));
  EXPECT_EQ(a_.remote_addr.sin_addr.s_addr, 0u);
  EXPECT_EQ(int_option(a_.handle, SOL_SOCKET, SO_REUSEADDR), 1);
  EXPECT_EQ(vl_socket_handle(&a_), a_.handle);
}

TEST_F(SocketTest, ConstructorRefusesWhatIsNoAddress) {
  for (const char* text : {"255.255.255.255", "no-address", static_cast<const char*>(nullptr)}) {
    errno = 0;
    EXPECT_EQ(vl_socket_ctor(nullptr, text, 5004, SOCK_DGRAM), nullptr);
    EXPECT_EQ(errno, EINVAL);
  }
  EXPECT_EQ(log_.count("Invalid address found!"), 3);
}

TEST_F(SocketTest, ConstructorReturnsAnExistingSocketUnchanged) {
  ASSERT_EQ(vl_socket_ctor(&a_, "192.0.2.1", 5004, SOCK_DGRAM), &a_);
  const int handle = a_.handle;
  EXPECT_EQ(vl_socket_ctor(&a_, "192.0.2.2", 6000, SOCK_STREAM), &a_);
  EXPECT_EQ(a_.handle, handle);
  EXPECT_EQ(a_.type, SOCK_DGRAM);
  EXPECT_EQ(a_.remote_addr.sin_addr.s_addr, addr("192.0.2.1"));
}

TEST_F(SocketTest, ConstructorWithoutStorageAllocatesAndDestructorLeavesTheRecord) {
  vl_socket* sock = vl_socket_ctor(nullptr, "127.0.0.1", 4000, SOCK_STREAM);
  ASSERT_NE(sock, nullptr);
  EXPECT_EQ(sock->type, SOCK_STREAM);
  EXPECT_EQ(sock->dscp, 0);
  const int handle = sock->handle;
  EXPECT_EQ(vl_socket_dtor(sock), sock);
  EXPECT_EQ(sock->handle, -1);
  EXPECT_EQ(fcntl(handle, F_GETFD), -1) << "descriptor still open";
  EXPECT_TRUE(log_.contains("Closing connection to 127.0.0.1:4000"));
  delete sock;
  EXPECT_EQ(vl_socket_dtor(nullptr), nullptr);
}

// Handle 0 of a fresh record means "no socket yet": closing such a record
// must not close the process's descriptor 0.
TEST_F(SocketTest, ClosingARecordWithoutSocketLeavesDescriptorZeroAlone) {
  if (fcntl(0, F_GETFD) < 0) {
    ASSERT_EQ(open("/dev/null", O_RDONLY), 0);
  }
  vl_socket fresh{};
  vl_socket_close(&fresh);
  EXPECT_EQ(fresh.handle, -1);
  vl_socket other{};
  vl_socket_dtor(&other);
  EXPECT_GE(fcntl(0, F_GETFD), 0);
  vl_socket_close(nullptr);
  EXPECT_EQ(vl_socket_handle(nullptr), -1);
}

TEST_F(SocketTest, SendAndReceiveRefuseAnUnknownType) {
  ASSERT_NE(vl_socket_ctor(&a_, "127.0.0.1", 5004, SOCK_DGRAM), nullptr);
  a_.type = SOCK_RAW;
  char buf[4] = {};
  errno = 0;
  EXPECT_EQ(vl_socket_send(&a_, buf, sizeof buf, 0), -1);
  EXPECT_EQ(errno, EOPNOTSUPP);
  errno = 0;
  EXPECT_EQ(vl_socket_recv(&a_, buf, sizeof buf, 0), -1);
  EXPECT_EQ(errno, EOPNOTSUPP);
  EXPECT_EQ(vl_socket_send(nullptr, buf, sizeof buf, 0), -1);
  EXPECT_EQ(vl_socket_recv(nullptr, buf, sizeof buf, 0), -1);
}

TEST_F(SocketTest, ProducerOnATcpRecordSetsNothing) {
  ASSERT_NE(vl_socket_ctor(&a_, "127.0.0.1", 4000, SOCK_STREAM), nullptr);
  const int ttl = int_option(a_.handle, SOL_IP, IP_TTL);
  EXPECT_EQ(vl_socket_enable_producer(&a_, 46, 1), 0);
  EXPECT_EQ(int_option(a_.handle, SOL_IP, IP_TOS), 0);
  EXPECT_EQ(int_option(a_.handle, SOL_IP, IP_TTL), ttl);
  EXPECT_EQ(a_.dscp, 0);
  EXPECT_EQ(vl_socket_enable_producer(nullptr, 46, 1), -1);
  EXPECT_EQ(vl_socket_disable_producer(&a_), 0);
}

TEST_F(SocketTest, UnicastProducerSetsAOneByteTtlAndTheDscp) {
  ASSERT_NE(vl_socket_ctor(&a_, "127.0.0.1", 5004, SOCK_DGRAM), nullptr);
  ASSERT_EQ(vl_socket_bind(&a_, nullptr, "127.0.0.1", 0), 0);
  EXPECT_EQ(vl_socket_enable_producer(&a_, 46, 1), 0);
  EXPECT_EQ(int_option(a_.handle, SOL_IP, IP_TTL), 1);
  EXPECT_EQ(int_option(a_.handle, SOL_IP, IP_TOS), 184);
  EXPECT_EQ(a_.dscp, 46);

  ASSERT_NE(vl_socket_ctor(&b_, "127.0.0.1", 5004, SOCK_DGRAM), nullptr);
  EXPECT_EQ(vl_socket_enable_producer(&b_, 34, 200), 0);
  EXPECT_EQ(int_option(b_.handle, SOL_IP, IP_TTL), 200);
  EXPECT_EQ(int_option(b_.handle, SOL_IP, IP_TOS), 136);
}

TEST_F(SocketTest, DscpKeepsBitsAlreadySetAndZeroLeavesTosUntouched) {
  const int preset = 0x21;  // an ECN bit and one DSCP bit
  ASSERT_NE(vl_socket_ctor(&a_, "127.0.0.1", 5004, SOCK_DGRAM), nullptr);
  ASSERT_EQ(setsockopt(a_.handle, SOL_IP, IP_TOS, &preset, sizeof preset), 0);
  EXPECT_EQ(vl_socket_enable_producer(&a_, 0, 1), 0);
  EXPECT_EQ(int_option(a_.handle, SOL_IP, IP_TOS), preset);

  ASSERT_NE(vl_socket_ctor(&b_, "127.0.0.1", 5004, SOCK_DGRAM), nullptr);
  ASSERT_EQ(setsockopt(b_.handle, SOL_IP, IP_TOS, &preset, sizeof preset), 0);
  EXPECT_EQ(vl_socket_enable_producer(&b_, 34, 1), 0);
  EXPECT_EQ(int_option(b_.handle, SOL_IP, IP_TOS), 136 | preset);
}

TEST_F(SocketTest, UnicastConsumerIsOnlyMadeNonBlocking) {
  ASSERT_NE(vl_socket_ctor(&a_, "127.0.0.1", 0, SOCK_DGRAM), nullptr);
  ASSERT_EQ(vl_socket_bind(&a_, nullptr, "127.0.0.1", 0), 0);
  a_.dscp = 12;
  EXPECT_EQ(vl_socket_enable_consumer(&a_), 0);
  EXPECT_NE(fcntl(a_.handle, F_GETFL) & O_NONBLOCK, 0);
  EXPECT_EQ(a_.dscp, 0);
  EXPECT_FALSE(log_.contains("Join address"));
  char buf[4];
  errno = 0;
  EXPECT_EQ(vl_socket_recv(&a_, buf, sizeof buf, 0), -1);
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_EQ(vl_socket_disable_consumer(&a_), 0);
  EXPECT_FALSE(log_.contains("Leave address"));

  ASSERT_NE(vl_socket_ctor(&b_, "127.0.0.1", 0, SOCK_STREAM), nullptr);
  EXPECT_EQ(vl_socket_enable_consumer(&b_), 0);
  EXPECT_EQ(fcntl(b_.handle, F_GETFL) & O_NONBLOCK, 0) << "TCP records are left alone";
  EXPECT_EQ(vl_socket_enable_consumer(nullptr), -1);
  EXPECT_EQ(vl_socket_disable_consumer(nullptr), -1);
}

TEST_F(SocketTest, ConsumerFailureNamesTheCallAndTheAddress) {
  ASSERT_NE(vl_socket_ctor(&a_, "127.0.0.1", 5004, SOCK_DGRAM), nullptr);
  vl_socket_close(&a_);
  a_.handle = 1000;  // no such descriptor
  EXPECT_EQ(vl_socket_enable_consumer(&a_), -1);
  EXPECT_TRUE(log_.contains("'vl_socket_nonblock(self, 1)' failed: 9 - Bad file descriptor"));
  EXPECT_TRUE(log_.contains("vl_socket_enable_consumer() failed on address 127.0.0.1:5004"));
  a_.handle = -1;
}

TEST_F(SocketTest, LargeBufferIs128TimesTheCurrentSize) {
  ASSERT_NE(vl_socket_ctor(&a_, "127.0.0.1", 5004, SOCK_DGRAM), nullptr);
  const int rcv = int_option(a_.handle, SOL_SOCKET, SO_RCVBUF);
  const int snd = int_option(a_.handle, SOL_SOCKET, SO_SNDBUF);
  EXPECT_EQ(vl_socket_largebuf(&a_, true), rcv * 128);
  EXPECT_EQ(vl_socket_largebuf(&a_, false), snd * 128);
  vl_socket_close(&a_);
  EXPECT_EQ(vl_socket_largebuf(&a_, true), 0);
  EXPECT_EQ(vl_socket_largebuf(nullptr, true), 0);
}

TEST_F(SocketTest, TcpConnectAcceptSendAndReceiveOverLoopback) {
  ASSERT_NE(vl_socket_ctor(&a_, "127.0.0.1", 0, SOCK_STREAM), nullptr);
  ASSERT_EQ(vl_socket_bind(&a_, nullptr, "127.0.0.1", 0), 0);
  ASSERT_EQ(vl_socket_listen(&a_), 0);
  const uint16_t port = local_port(a_);

  ASSERT_NE(vl_socket_ctor(&b_, "127.0.0.1", port, SOCK_STREAM), nullptr);
  ASSERT_EQ(vl_socket_connect(&b_), 0);
  vl_socket* peer = vl_socket_accept(&a_);
  ASSERT_NE(peer, nullptr);
  EXPECT_EQ(peer->type, SOCK_STREAM);
  EXPECT_EQ(peer->remote_addr.sin_addr.s_addr, addr("127.0.0.1"));
  EXPECT_TRUE(log_.contains("Accepted connection from 127.0.0.1:" + std::to_string(local_port(b_)) + "!"));

  char buf[16] = {};
  EXPECT_EQ(vl_socket_send(&b_, "request", 8, 0), 8);
  EXPECT_EQ(vl_socket_recv(peer, buf, sizeof buf, 0), 8);
  EXPECT_STREQ(buf, "request");
  EXPECT_EQ(vl_socket_send(peer, "answer", 7, 0), 7);
  EXPECT_EQ(vl_socket_recv(&b_, buf, sizeof buf, 0), 7);
  EXPECT_STREQ(buf, "answer");

  // The destructor shuts the connection down: the peer reads its end.
  vl_socket_dtor(&b_);
  EXPECT_EQ(vl_socket_recv(peer, buf, sizeof buf, 0), 0);
  delete vl_socket_dtor(peer);
}

TEST_F(SocketTest, RefusedConnectIsLoggedWithTheCallAndErrno) {
  ASSERT_NE(vl_socket_ctor(&a_, "127.0.0.1", 0, SOCK_STREAM), nullptr);
  ASSERT_EQ(vl_socket_bind(&a_, nullptr, "127.0.0.1", 0), 0);
  const uint16_t unused_port = local_port(a_);  // bound but not listening

  ASSERT_NE(vl_socket_ctor(&b_, "127.0.0.1", unused_port, SOCK_STREAM), nullptr);
  EXPECT_EQ(vl_socket_connect(&b_), -1);
  EXPECT_EQ(errno, ECONNREFUSED);
  EXPECT_TRUE(log_.contains(
      "'connect(self->handle, (const struct sockaddr *)&self->remote_addr, sizeof(self->remote_addr))' "
      "failed: 111 - Connection refused"));
}

TEST_F(SocketTest, ConnectOnUdpDoesNothing) {
  ASSERT_NE(vl_socket_ctor(&a_, "127.0.0.1", 1, SOCK_DGRAM), nullptr);
  EXPECT_EQ(vl_socket_connect(&a_), 0);
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  EXPECT_EQ(getpeername(a_.handle, reinterpret_cast<sockaddr*>(&peer), &len), -1);
  EXPECT_EQ(vl_socket_connect(nullptr), -1);
  EXPECT_EQ(vl_socket_bind(&a_, nullptr, nullptr, 0), -1) << "no local address";
}

// A UDP port of 127.0.0.1 that nothing listens on.
uint16_t closed_udp_port() {
  vl_socket probe{};
  vl_socket_ctor(&probe, "127.0.0.1", 0, SOCK_DGRAM);
  vl_socket_bind(&probe, nullptr, "127.0.0.1", 0);
  const uint16_t port = local_port(probe);
  vl_socket_dtor(&probe);
  return port;
}

TEST_F(SocketTest, ConnectedUdpProducerSendsToItsDestination) {
  ASSERT_NE(vl_socket_ctor(&b_, "127.0.0.1", 0, SOCK_DGRAM), nullptr);
  ASSERT_EQ(vl_socket_bind(&b_, nullptr, "127.0.0.1", 0), 0);
  ASSERT_NE(vl_socket_ctor(&a_, "127.0.0.1", local_port(b_), SOCK_DGRAM), nullptr);
  ASSERT_EQ(vl_socket_bind(&a_, nullptr, "127.0.0.1", 0), 0);
  ASSERT_EQ(vl_socket_enable_producer(&a_, 0, 1), 0);
  ASSERT_EQ(vl_socket_connect_udp(&a_), 0);
  EXPECT_TRUE(a_.connected);
  EXPECT_EQ(vl_socket_send(&a_, "rtp", 3, 0), 3);
  char buf[8] = {};
  EXPECT_EQ(recv(b_.handle, buf, sizeof buf, 0), 3);
  vl_socket_dtor(&a_);
  EXPECT_FALSE(a_.connected);
}

// Connected, the socket hears of the port unreachable that each datagram
// draws, and the next send reports it; no send may fail for that.
TEST_F(SocketTest, ConnectedUdpProducerIgnoresEarlierDatagramsErrors) {
  ASSERT_NE(vl_socket_ctor(&a_, "127.0.0.1", closed_udp_port(), SOCK_DGRAM), nullptr);
  ASSERT_EQ(vl_socket_bind(&a_, nullptr, "127.0.0.1", 0), 0);
  ASSERT_EQ(vl_socket_connect_udp(&a_), 0);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(vl_socket_send(&a_, "rtp", 3, 0), 3) << "send " << i;
}

TEST_F(SocketTest, AcceptFailureIsLogged) {
  ASSERT_NE(vl_socket_ctor(&a_, "127.0.0.1", 0, SOCK_STREAM), nullptr);
  EXPECT_EQ(vl_socket_accept(&a_), nullptr);  // not listening
  EXPECT_TRUE(log_.contains("Could not create socket descriptor: Invalid argument!"));
  EXPECT_EQ(vl_socket_accept(nullptr), nullptr);
}

TEST_F(SocketTest, ErrlogKeepsErrno) {
  errno = EINVAL;
  vl_socket_errlog("'frobnicate()'");
  EXPECT_EQ(errno, EINVAL);
  EXPECT_TRUE(log_.contains("'frobnicate()' failed: 22 - Invalid argument"));
}

TEST(SelectBudget, TimeOutLeavesTheBudget) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  fd_set read_set;
  FD_ZERO(&read_set);
  FD_SET(fds[0], &read_set);
  uint64_t budget = 200000000;
  const auto start = Clock::now();
  EXPECT_EQ(vl_select(fds[0] + 1, &read_set, nullptr, nullptr, &budget), 0);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(195));
  EXPECT_EQ(budget, 200000000u);
  EXPECT_EQ(vl_select(fds[0] + 1, &read_set, nullptr, nullptr, nullptr), -1);
  close(fds[0]);
  close(fds[1]);
}

TEST(MulticastAddress, DerivedFromTheTwoLowOctetsAndTheScope) {
  vltest::LogCapture log;
  auto mc = [](const char* base, int ttl, int scope) {
    in_addr out{vl_get_mc_addr(inet_addr(base), ttl, scope)};
    return std::string(inet_ntoa(out));
  };
  EXPECT_EQ(mc("10.1.2.3", 1, 0), "239.0.2.3");
  EXPECT_EQ(mc("10.1.0.3", 1, 0), "239.127.0.3");
  EXPECT_EQ(mc("10.1.0.3", 1, 5), "239.5.0.3");
  EXPECT_EQ(mc("10.1.2.3", 1, 128 + 5), "239.5.2.3");
  EXPECT_FALSE(log.contains("TTL>1 is not supported by this version"));
  EXPECT_EQ(mc("10.1.2.3", 4, 0), "239.0.2.3");
  EXPECT_TRUE(log.contains("TTL>1 is not supported by this version"));
}

TEST(PrintableAddress, DottedTextOrNone) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = inet_addr("192.0.2.7");
  char buf[vl_printable_addr_size];
  EXPECT_EQ(vl_printable_addr(buf, &address), buf);
  EXPECT_STREQ(buf, "192.0.2.7");

  char* allocated = vl_printable_addr(nullptr, &address);
  ASSERT_NE(allocated, nullptr);
  EXPECT_STREQ(allocated, "192.0.2.7");
  std::free(allocated);

  address.sin_family = AF_UNIX;
  EXPECT_STREQ(vl_printable_addr(buf, &address), "--none--");
  EXPECT_STREQ(vl_printable_addr(buf, nullptr), "--none--");
}

}  // namespace
