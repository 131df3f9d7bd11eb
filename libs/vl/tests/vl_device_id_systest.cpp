// The identity defaults on a lab host, whose interfaces the test chooses.
#include "vl/vl_device.h"

#include "vltest/netlab.h"
#include "vltest/temp_home.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The identity of a device made on lab host A.
std::string identity_on(const vltest::NetLab& lab) {
  std::string identity;
  lab.run_in(vltest::NetLab::A, [&] {
    VlDevice* device = vl_device_ctor(nullptr);
    ASSERT_NE(device, nullptr);
    identity = std::string(device->id->vendor) + "|" + device->id->product + "|" + device->id->serial;
    vl_device_dtor(device);
  });
  return identity;
}

TEST(DeviceIdDefaults, SerialNumberIsTheFirstScannedInterfacesMac) {
  vltest::TempHome home;  // no vendor file
  vltest::NetLab lab(vltest::NetLab::without_first_link);
  ASSERT_TRUE(lab.ok()) << lab.error();
  EXPECT_EQ(identity_on(lab), "Brevolt|Linux PC|00:00:00:00:00:00");
  ASSERT_TRUE(lab.add_link(vltest::NetLab::A, "eth0", "10.1.0.1/24", "02:AB:CD:EF:12:34")) << lab.error();
  ASSERT_TRUE(lab.add_link(vltest::NetLab::A, "eth1", "10.1.1.1/24", "02:00:00:00:00:99")) << lab.error();
  EXPECT_EQ(identity_on(lab), "Brevolt|Linux PC|02:ab:cd:ef:12:34");
}

}  // namespace
