// The interface scan on a lab host with the interfaces eth0, eth1 and vn0 (in
// that order, with addresses) and eth2 (without), the software hooks
// counting the managers they hand out.
#include "vl/vl_net.h"

#include "vl/vl_device.h"
#include "vltest/log_capture.h"
#include "vltest/netlab.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

namespace {

int live_managers = 0;
int resyncs = 0;
bool refuse_receive_manager = false;

class CountingSendmgr : public VlSendmgr {
 public:
  void resync_all() override { ++resyncs; }
};

class CountingRecvmgr : public VlRecvmgr {
 public:
  void resync_all() override { ++resyncs; }
};

VlSendmgr* send_init() {
  ++live_managers;
  return new CountingSendmgr;
}
void send_done(VlSendmgr* manager) {
  --live_managers;
  delete manager;
}
VlRecvmgr* recv_init() {
  if (refuse_receive_manager) return nullptr;
  ++live_managers;
  return new CountingRecvmgr;
}
void recv_done(VlRecvmgr* manager) {
  --live_managers;
  delete manager;
}

struct Listed {
  std::string name;
  int type;
  bool operator==(const Listed&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Listed& l) { return out << l.name << ":" << l.type; }

class InterfaceScan : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lab_.ok()) << lab_.error();
    for (const auto& [device, address] : {std::pair{"eth0", "10.1.0.1/24"}, {"eth1", "10.1.1.1/24"},
                                          {"vn0", "10.1.2.1/24"}, {"eth2", ""}})
      ASSERT_TRUE(lab_.add_link(vltest::NetLab::A, device, address)) << lab_.error();
    vl_rtp_software_send_init = send_init;
    vl_rtp_software_send_done = send_done;
    vl_rtp_software_recv_init = recv_init;
    vl_rtp_software_recv_done = recv_done;
    live_managers = 0;
    resyncs = 0;
    refuse_receive_manager = false;
  }
  void TearDown() override {
    vl_rtp_software_send_init = vl_rtp_send_init_default;
    vl_rtp_software_send_done = vl_rtp_send_done_default;
    vl_rtp_software_recv_init = vl_rtp_recv_init_default;
    vl_rtp_software_recv_done = vl_rtp_recv_done_default;
  }

  // Scans lab host A into a new device and hands it to `check`; the device
  // is destroyed afterwards.
  void scan(const char* name, const std::function<void(VlDevice*, VlNetworkInterface*)>& check) {
    lab_.run_in(vltest::NetLab::A, [&] {
      VlDevice* device = vl_device_ctor(nullptr);
      ASSERT_NE(device, nullptr);
      check(device, vl_network_interface_update(device, name));
      vl_device_dtor(device);
    });
    EXPECT_EQ(live_managers, 0);
  }

  static std::vector<Listed> listed(const VlNetworkInterface* list) {
    std::vector<Listed> result;
    for (const VlNetworkInterface* node = list; node; node = node->next.get()) {
      result.push_back({node->entry.name, node->type});
      // Exactly the streaming interfaces have their managers.
      EXPECT_EQ(node->send_manager != nullptr, node->type != 0) << node->entry.name;
      EXPECT_EQ(node->recv_manager != nullptr, node->type != 0) << node->entry.name;
    }
    return result;
  }

  vltest::NetLab lab_{vltest::NetLab::without_first_link};
  vltest::LogCapture log_;
};

const char* const no_rtp_for_vn0 =
    "There is no RTP implementation for NIC vn0, so this interface wont be capable for audio streaming!";

TEST_F(InterfaceScan, ListsTheFirstTheNamedAndEveryVnInterface) {
  const struct {
    const char* name;
    std::vector<Listed> expected;
  } cases[] = {
      {nullptr, {{"vn0", 0}, {"eth0", 1}}},
      {"eth1", {{"vn0", 0}, {"eth1", 1}, {"eth0", 1}}},
      {"eth0", {{"vn0", 0}, {"eth0", 1}}},
      {"eth2", {{"vn0", 0}, {"eth0", 1}}},  // no IPv4 address: never listed
  };
  for (const auto& c : cases) {
    log_.clear();
    scan(c.name, [&](VlDevice* device, VlNetworkInterface* head) {
      EXPECT_EQ(head, device->interfaces.get());
      EXPECT_EQ(listed(head), c.expected) << (c.name ? c.name : "no name");
    });
    EXPECT_EQ(log_.count(no_rtp_for_vn0), 1);
  }
}

TEST_F(InterfaceScan, AManagerThatCannotBeMadeLeavesTheInterfaceUnusable) {
  refuse_receive_manager = true;
  scan(nullptr, [&](VlDevice*, VlNetworkInterface* head) {
    EXPECT_EQ(listed(head), (std::vector<Listed>{{"vn0", 0}, {"eth0", 0}}));
    EXPECT_EQ(live_managers, 0);  // the send manager made went again
  });
  EXPECT_TRUE(log_.contains("There is no RTP implementation for NIC eth0"));
}

TEST_F(InterfaceScan, ScanningAgainReplacesTheManagers) {
  scan("eth1", [&](VlDevice* device, VlNetworkInterface*) {
    EXPECT_EQ(live_managers, 4);
    EXPECT_EQ(listed(vl_network_interface_update(device, "eth1")).size(), 3u);
    EXPECT_EQ(live_managers, 4);
    EXPECT_EQ(log_.count("Ignoring already known network interface eth0."), 1);
    // vn0 dropped to type 0 for want of managers and comes back as a "vn" NIC.
    EXPECT_EQ(log_.count("Reusing old NIC entry vn0: addr 10.1.2.1 -> 10.1.2.1; mask 255.255.255.0 -> "
                         "255.255.255.0; type 0 -> 2"),
              1);
  });
}

TEST_F(InterfaceScan, ResyncReachesBothManagersOfEveryInterface) {
  scan("eth1", [&](VlDevice* device, VlNetworkInterface*) {
    vl_device_resync_streams(device);
    EXPECT_EQ(resyncs, 4);
  });
}

TEST_F(InterfaceScan, AHostWithoutInterfacesGivesNoList) {
  vltest::NetLab empty(vltest::NetLab::without_first_link);
  ASSERT_TRUE(empty.ok()) << empty.error();
  empty.run_in(vltest::NetLab::A, [] {
    VlDevice* device = vl_device_ctor(nullptr);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(vl_network_interface_update(device, "eth0"), nullptr);
    EXPECT_EQ(device->interfaces, nullptr);
    vl_device_dtor(device);
  });
}

}  // namespace
