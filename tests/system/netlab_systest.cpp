// The network test lab itself: isolation, routes, cleanup, refusal.
#include "vltest/netlab.h"
#include "vltest/process.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using vltest::NetLab;

bool namespace_exists(const std::string& name) { return access(("/run/netns/" + name).c_str(), F_OK) == 0; }

std::set<std::string> interface_names() {
  std::set<std::string> names;
  if (struct if_nameindex* list = if_nameindex()) {
    for (const struct if_nameindex* i = list; i->if_index != 0; ++i) names.insert(i->if_name);
    if_freenameindex(list);
  }
  return names;
}

// Lab namespaces whose creating process is gone.
std::vector<std::string> orphaned_namespaces() {
  std::vector<std::string> names;
  DIR* dir = opendir("/run/netns");
  if (!dir) return names;
  while (const dirent* entry = readdir(dir)) {
    int pid = 0;
    if (std::sscanf(entry->d_name, "vlt-%d-", &pid) == 1 && kill(pid, 0) != 0 && errno == ESRCH)
      names.emplace_back(entry->d_name);
  }
  closedir(dir);
  return names;
}

sockaddr_in address_of(const char* text, uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  inet_pton(AF_INET, text, &address.sin_addr);
  return address;
}

int udp_socket_bound_to(const char* text, uint16_t port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  const sockaddr_in address = address_of(text, port);
  if (fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool arrives_within(int fd, int timeout_ms) {
  pollfd pfd = {fd, POLLIN, 0};
  return poll(&pfd, 1, timeout_ms) == 1;
}

class NetLabTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(lab_.ok()) << lab_.error(); }
  NetLab lab_;
};

TEST_F(NetLabTest, HostsSeeOnlyLoopbackAndTheirOwnVeth) {
  std::set<std::string> in_a, in_b;
  bool a_is_lab = false;
  lab_.run_in(NetLab::A, [&] {
    in_a = interface_names();
    a_is_lab = vltest::in_lab_namespace();
  });
  lab_.run_in(NetLab::B, [&] { in_b = interface_names(); });
  EXPECT_EQ(in_a, (std::set<std::string>{"lo", "veth0"}));
  EXPECT_EQ(in_b, (std::set<std::string>{"lo", "veth1"}));
  EXPECT_TRUE(a_is_lab);
  EXPECT_FALSE(vltest::in_lab_namespace()) << "the test's own thread is in the host namespace";
}

TEST_F(NetLabTest, CommandsRunInsideTheNamespaceWithTheMulticastRoute) {
  const vltest::ProcessResult links =
      vltest::run_process(lab_.command(NetLab::B, {vltest::ip_program(), "-o", "link"}), 10s);
  ASSERT_EQ(links.status, 0);
  EXPECT_NE(links.output.find("veth1"), std::string::npos) << links.output;
  EXPECT_NE(links.output.find("02:76:6c:00:00:02"), std::string::npos) << links.output;
  EXPECT_EQ(links.output.find("eth0"), std::string::npos) << links.output;
  for (NetLab::Host host : {NetLab::A, NetLab::B}) {
    const vltest::ProcessResult routes = vltest::run_process(
        lab_.command(host, {vltest::ip_program(), "route", "show", NetLab::multicast_route}), 10s);
    EXPECT_NE(routes.output.find(std::string("224.0.0.0/4 dev ") + NetLab::link_device[host]), std::string::npos)
        << routes.output;
  }
}

TEST_F(NetLabTest, DatagramsCrossTheLinkAndSocketsKeepTheirNamespace) {
  int receiver = -1;
  lab_.run_in(NetLab::B, [&] { receiver = udp_socket_bound_to(NetLab::link_address[NetLab::B], 9000); });
  ASSERT_GE(receiver, 0);
  // The socket lives in B although this thread is in the host namespace.
  std::thread sender = lab_.start_in(NetLab::A, [] {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = address_of(NetLab::link_address[NetLab::B], 9000);
    EXPECT_EQ(sendto(fd, "lab", 3, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), 3);
    close(fd);
  });
  sender.join();
  ASSERT_TRUE(arrives_within(receiver, 2000));
  char buf[8] = {};
  EXPECT_EQ(recv(receiver, buf, sizeof buf, 0), 3);
  EXPECT_STREQ(buf, "lab");
  close(receiver);
}

TEST_F(NetLabTest, ChildProcessSeesTheNamespaceInProcSelfNet) {
  const int status = lab_.run_child_in(NetLab::A, [] {
    std::ifstream dev("/proc/self/net/dev");
    std::stringstream text;
    text << dev.rdbuf();
    return text.str().find("veth0") != std::string::npos && text.str().find(" eth0:") == std::string::npos ? 0 : 1;
  });
  EXPECT_EQ(status, 0);
}

TEST_F(NetLabTest, SecondLinkAndNetem) {
  ASSERT_TRUE(lab_.add_second_link()) << lab_.error();
  int receiver = -1;
  lab_.run_in(NetLab::B, [&] { receiver = udp_socket_bound_to(NetLab::second_link_address[NetLab::B], 9001); });
  ASSERT_GE(receiver, 0);
  auto send_one = [&] {
    lab_.run_in(NetLab::A, [] {
      const int fd = socket(AF_INET, SOCK_DGRAM, 0);
      const sockaddr_in to = address_of(NetLab::second_link_address[NetLab::B], 9001);
      sendto(fd, "x", 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
      close(fd);
    });
  };
  send_one();
  char buf[4];
  ASSERT_TRUE(arrives_within(receiver, 2000));
  EXPECT_EQ(recv(receiver, buf, sizeof buf, 0), 1);
  if (!lab_.add_netem(NetLab::A, NetLab::second_link_device[NetLab::A], {"loss", "100%"})) {
    close(receiver);
    GTEST_SKIP() << "this kernel has no netem: " << lab_.error();
  }
  send_one();
  EXPECT_FALSE(arrives_within(receiver, 300));
  close(receiver);
}

TEST(NetLabLifetime, DestructorRemovesBothNamespaces) {
  std::string a, b;
  {
    NetLab lab;
    ASSERT_TRUE(lab.ok()) << lab.error();
    a = lab.name(NetLab::A);
    b = lab.name(NetLab::B);
    EXPECT_TRUE(namespace_exists(a));
    EXPECT_TRUE(namespace_exists(b));
  }
  EXPECT_FALSE(namespace_exists(a));
  EXPECT_FALSE(namespace_exists(b));
}

TEST(NetLabLifetime, LeftoversOfADeadCreatorAreRemovedByTheNextLab) {
  // The child ends without running the lab's destructor, as a crash would.
  ASSERT_EQ(vltest::run_in_child([] {
              const NetLab* abandoned = new NetLab;
              return abandoned->ok() ? 0 : 1;
            }),
            0);
  const std::vector<std::string> leftovers = orphaned_namespaces();
  ASSERT_GE(leftovers.size(), 2u);
  NetLab lab;
  ASSERT_TRUE(lab.ok()) << lab.error();
  for (const std::string& name : leftovers) EXPECT_FALSE(namespace_exists(name)) << name;
}

TEST(NetLabGuard, RefusesToRunOutsideALabNamespace) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(vltest::require_lab_namespace(), "refusing to run a packet test outside a lab network namespace");
}

TEST(NetLabShell, RunBuildsTheLabAndRemovesItAfterwards) {
  const std::string script =
      "echo names $NETLAB_A $NETLAB_B; ip netns exec \"$NETLAB_A\" ip -o addr show dev veth0; "
      "ip -n \"$NETLAB_B\" route show 224.0.0.0/4; exit 7";
  const vltest::ProcessResult result =
      vltest::run_process({"/bin/bash", vltest::netlab_script(), "run", "/bin/sh", "-c", script}, 30s);
  EXPECT_EQ(result.status, 7) << result.output;
  EXPECT_NE(result.output.find("inet 198.18.0.1/24"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("224.0.0.0/4 dev veth1"), std::string::npos) << result.output;
  std::istringstream words(result.output.substr(result.output.find("names")));
  std::string word, a, b;
  words >> word >> a >> b;
  ASSERT_EQ(a.rfind("vlt-", 0), 0u) << result.output;
  EXPECT_FALSE(namespace_exists(a));
  EXPECT_FALSE(namespace_exists(b));
}

}  // namespace
