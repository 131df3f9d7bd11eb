// Host operations that this platform refuses, and argument checks.
#include "vlsys/host_network.h"

#include "vltest/log_capture.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>

namespace {

TEST(HostRefusals, ChangingInterfaceGatewayFirmwareOrRateIsRefused) {
  vltest::LogCapture log;
  const uint32_t gateway = vl_get_gateway();
  EXPECT_EQ(vl_set_iface(), -1);
  EXPECT_EQ(vl_set_gateway(0x0100a8c0), -1);
  EXPECT_EQ(vl_get_gateway(), gateway);
  const char image[] = "image";
  EXPECT_EQ(vl_update_firmware_cb(image, sizeof image), -1);
  EXPECT_TRUE(log.contains("Firmware update not supported"));
  EXPECT_EQ(vl_set_samplerate(vl_rational{96000, 1}), -1);
  EXPECT_TRUE(log.contains("Samplerate modification is not supported"));
  EXPECT_EQ(log.records().size(), 2u);
}

TEST(HostName, ReadsWhatGethostnameReads) {
  char expected[vl_hostname_size] = {};
  ASSERT_EQ(gethostname(expected, sizeof expected), 0);
  char name[vl_hostname_size];
  std::memset(name, 'x', sizeof name);
  EXPECT_EQ(vl_get_hostname(name), 0);
  EXPECT_STREQ(name, expected);
}

}  // namespace
