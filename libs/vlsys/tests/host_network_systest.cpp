// The host's interfaces, gateway and host name, seen from inside a network
// lab (and, for the host name and reboot, from namespaces of a child).
#include "vlsys/host_network.h"

#include "vltest/netlab.h"
#include "vltest/temp_dir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using vltest::NetLab;

std::string name_of(const vl_host_iface& iface) { return std::string(iface.name, strnlen(iface.name, 16)); }

uint64_t namespace_inode(const char* kind) {
  struct stat st {};
  return stat((std::string("/proc/self/ns/") + kind).c_str(), &st) == 0 ? st.st_ino : 0;
}

class HostNetworkTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(lab_.ok()) << lab_.error(); }

  // Interfaces as the host scan sees them from inside A.
  std::vector<vl_host_iface> scan_a(int max) {
    std::vector<vl_host_iface> entries(static_cast<size_t>(max > 0 ? max : 1));
    int filled = -1;
    lab_.run_in(NetLab::A, [&] { filled = vl_get_network_ifaces(max, entries.data()); });
    entries.resize(filled > 0 ? static_cast<size_t>(filled) : 0);
    return entries;
  }

  int count_a() {
    int count = -1;
    lab_.run_in(NetLab::A, [&] { count = vl_get_num_network_ifaces(); });
    return count;
  }

  NetLab lab_;
};

TEST_F(HostNetworkTest, ScanDescribesTheAddressedInterfaceAndSkipsLoopback) {
  // An interface without an IPv4 address is not listed at all.
  ASSERT_TRUE(lab_.ip(NetLab::A, {"link", "add", "vx0", "type", "veth", "peer", "name", "vx1"})) << lab_.error();
  EXPECT_EQ(count_a(), 1);

  vl_host_iface entries[4];
  std::memset(entries, 0, sizeof entries);
  entries[0].gateway = 0x01020304;
  entries[0].addr_mode = 3;
  int filled = -1;
  unsigned expected_index = 0;
  lab_.run_in(NetLab::A, [&] {
    filled = vl_get_network_ifaces(4, entries);
    expected_index = if_nametoindex("veth0");
  });
  ASSERT_EQ(filled, 1);
  const vl_host_iface& veth = entries[0];
  EXPECT_EQ(name_of(veth), "veth0");
  EXPECT_EQ(veth.addr, inet_addr("198.18.0.1"));
  EXPECT_EQ(veth.mask, inet_addr("255.255.255.0"));
  EXPECT_EQ(veth.gateway, 0x01020304u) << "the scan leaves the gateway alone";
  EXPECT_EQ(veth.addr_mode, 0u);
  EXPECT_EQ(0, std::memcmp(veth.mac, NetLab::link_mac[NetLab::A].data(), 6));
  EXPECT_EQ(veth.ifindex, static_cast<int32_t>(expected_index));
  EXPECT_EQ(entries[1].name[0], 0) << "nothing written past the count";
}

TEST_F(HostNetworkTest, InterfacesComeInKernelOrderAndStopAtMax) {
  ASSERT_TRUE(lab_.add_second_link()) << lab_.error();
  EXPECT_EQ(count_a(), 2);
  const std::vector<vl_host_iface> all = scan_a(8);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(name_of(all[0]), "veth0");
  EXPECT_EQ(name_of(all[1]), "veth2");
  EXPECT_EQ(all[1].addr, inet_addr("198.18.1.1"));
  const std::vector<vl_host_iface> first = scan_a(1);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(name_of(first[0]), "veth0");
  EXPECT_TRUE(scan_a(0).empty());
  EXPECT_EQ(vl_get_network_ifaces(1, nullptr), -1);
}

// More interfaces than the first ioctl buffer holds (25 entries) are all
// counted and listed.
TEST_F(HostNetworkTest, MoreThanTwentyFiveInterfacesAreAllListed) {
  constexpr int pairs = 15;
  vltest::TempDir dir;
  const std::string batch = dir.path() + "/links";
  {
    std::ofstream out(batch);
    for (int i = 0; i < pairs; ++i) {
      out << "link add vp" << i << " type veth peer name vq" << i << "\n";
      out << "addr add 198.18.10." << 2 * i + 1 << "/32 dev vp" << i << "\n";
      out << "addr add 198.18.10." << 2 * i + 2 << "/32 dev vq" << i << "\n";
    }
  }
  ASSERT_TRUE(lab_.ip(NetLab::A, {"-batch", batch})) << lab_.error();
  const int expected = 1 + 2 * pairs;
  EXPECT_EQ(count_a(), expected);
  const std::vector<vl_host_iface> all = scan_a(64);
  ASSERT_EQ(static_cast<int>(all.size()), expected);
  bool last_pair_listed = false;
  for (const vl_host_iface& iface : all)
    if (name_of(iface) == "vq14") last_pair_listed = iface.addr == inet_addr("198.18.10.30");
  EXPECT_TRUE(last_pair_listed);
}

// /proc/net is the namespace of the process's main thread, so the gateway
// is read in a forked child whose only thread joined the lab.
TEST_F(HostNetworkTest, GatewayIsTheDefaultRouteOfTheNamespace) {
  EXPECT_EQ(lab_.run_child_in(NetLab::A, [] { return vl_get_gateway() == 0 ? 0 : 1; }), 0) << "no default route yet";
  ASSERT_TRUE(lab_.ip(NetLab::A, {"route", "add", "default", "via", "198.18.0.254"})) << lab_.error();
  EXPECT_EQ(lab_.run_child_in(NetLab::A, [] { return vl_get_gateway() == inet_addr("198.18.0.254") ? 0 : 1; }), 0);
}

// A gatewayed route to some other network is not the default gateway, even
// when it is listed after the default route; of two default routes the one
// with the lower metric counts.
TEST_F(HostNetworkTest, GatewayIgnoresOtherRoutesAndPrefersTheLowerMetric) {
  ASSERT_TRUE(lab_.ip(NetLab::A, {"route", "add", "default", "via", "198.18.0.254", "metric", "200"}));
  ASSERT_TRUE(lab_.ip(NetLab::A, {"route", "add", "default", "via", "198.18.0.253", "metric", "100"}));
  ASSERT_TRUE(lab_.ip(NetLab::A, {"route", "add", "198.51.100.0/24", "via", "198.18.0.252"}));
  EXPECT_EQ(lab_.run_child_in(NetLab::A, [] { return vl_get_gateway() == inet_addr("198.18.0.253") ? 0 : 1; }), 0);
}

// The host name is only ever changed in a UTS namespace of a child.
TEST(HostName, SetAndReadBackInAPrivateUtsNamespace) {
  char before[vl_hostname_size] = {};
  ASSERT_EQ(vl_get_hostname(before), 0);
  const uint64_t host_uts = namespace_inode("uts");
  const int status = vltest::run_in_child([host_uts] {
    if (unshare(CLONE_NEWUTS) != 0 || namespace_inode("uts") == host_uts) return 10;
    if (vl_set_hostname("vltest-uts") != 0) return 11;
    char name[vl_hostname_size] = {};
    if (vl_get_hostname(name) != 0 || std::strcmp(name, "vltest-uts") != 0) return 12;
    if (vl_set_hostname(std::string(70, 'h').c_str()) != -1) return 13;
    if (vl_set_hostname(nullptr) != -1) return 14;
    return 0;
  });
  EXPECT_EQ(status, 0);
  char after[vl_hostname_size] = {};
  ASSERT_EQ(vl_get_hostname(after), 0);
  EXPECT_STREQ(after, before);
  EXPECT_EQ(vl_get_hostname(nullptr), -1);
}

// vl_safe_reboot signals process 1: here the first process of a private PID
// namespace, which counts the SIGTERM.
TEST(SafeReboot, SendsSigtermToProcessOne) {
  const uint64_t host_uts = namespace_inode("uts");
  const int status = vltest::run_in_child([host_uts] {
    if (unshare(CLONE_NEWPID | CLONE_NEWUTS) != 0 || namespace_inode("uts") == host_uts) return 20;
    const pid_t init = fork();
    if (init < 0) return 21;
    if (init == 0) {
      // Never signal the real process 1.
      if (getpid() != 1) _exit(22);
      static volatile sig_atomic_t terminated = 0;
      signal(SIGTERM, [](int) { terminated = 1; });
      const int result = vl_safe_reboot();
      _exit(result == 0 && terminated ? 0 : 23);
    }
    int child_status = 0;
    if (waitpid(init, &child_status, 0) != init || !WIFEXITED(child_status)) return 24;
    return WEXITSTATUS(child_status);
  });
  EXPECT_EQ(status, 0);
}

}  // namespace
