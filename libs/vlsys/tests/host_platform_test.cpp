#include "vlsys/host_platform.h"

#include "vltest/temp_home.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <string>

namespace {

const std::string sep = "\xC0\x80";

struct VendorCase {
  std::string content;
  std::string vendor, product, serial;
};

class VendorFile : public ::testing::Test {
 protected:
  void write(const std::string& content) {
    mkdir((home_.path() + "/.Velanto").c_str(), 0775);
    std::ofstream(home_.config_path(vl_vendor_file_name), std::ios::binary) << content;
  }
  vltest::TempHome home_;
};

TEST_F(VendorFile, SplitsAtSeparatorsWithinTheBytesRead) {
  const std::string long_field(70, 'v');
  // The first 1155 bytes, then a separator that the read limit cuts in two.
  const std::string cut_separator = std::string(vl_vendor_file_max - 1, 'a') + sep + "b";
  const VendorCase cases[] = {
      {"Acme" + sep + "Box" + sep + "SN-1\r\n\x01", "Acme", "Box", "SN-1"},
      {"Acme\n", "Acme", "", ""},
      {"Acme" + sep + "Box", "Acme", "Box", ""},
      {long_field + sep + sep + "a" + sep + "b", std::string(63, 'v'), "", "a" + sep + "b"},
      {cut_separator, std::string(63, 'a'), "", ""},
      {"\n\n", "", "", ""},
  };
  for (const VendorCase& c : cases) {
    write(c.content);
    VlVendorInfo info{};
    ASSERT_EQ(vl_get_vendor_info(&info), 0);
    EXPECT_EQ(info.vendor, c.vendor);
    EXPECT_EQ(info.product, c.product);
    EXPECT_EQ(info.serial, c.serial);
  }
}

TEST_F(VendorFile, MissingIsAFailureAndUnreadableIsEmpty) {
  VlVendorInfo info{};
  EXPECT_EQ(vl_get_vendor_info(&info), -1);
  // A directory opens but cannot be read.
  ASSERT_EQ(mkdir((home_.path() + "/.Velanto").c_str(), 0775), 0);
  ASSERT_EQ(mkdir(home_.config_path(vl_vendor_file_name).c_str(), 0775), 0);
  std::memset(&info, 'x', sizeof info);
  ASSERT_EQ(vl_get_vendor_info(&info), 0);
  EXPECT_STREQ(info.vendor, "");
  EXPECT_STREQ(info.product, "");
  EXPECT_STREQ(info.serial, "");
}

TEST(IdentityDefaults, FillLongEnoughBuffersOnly) {
  char buffer[vl_identity_text_size];
  EXPECT_STREQ(vl_default_vendor_id(buffer, sizeof buffer), "Brevolt");
  EXPECT_STREQ(vl_default_product_id(buffer, sizeof buffer), "Linux PC");
  EXPECT_EQ(vl_default_vendor_id(buffer, sizeof buffer - 1), nullptr);
  EXPECT_EQ(vl_default_serial_number(nullptr, sizeof buffer), nullptr);
}

TEST(Platform, IsTheLinuxPc) {
  VlPlatform pair{};
  EXPECT_EQ(vl_platform_get(&pair), &pair);
  EXPECT_EQ(pair.type, 2u);
  EXPECT_EQ(pair.variant, 1u);
  EXPECT_TRUE(vl_platform_compare(&pair));
  const VlPlatform others[] = {{2, 2}, {5, 1}, {1, 1}};
  for (const VlPlatform& other : others) EXPECT_FALSE(vl_platform_compare(&other));
  EXPECT_FALSE(vl_platform_compare(nullptr));
}

struct HostConfigCase {
  uint32_t mode;
  const char* addr;
  const char* mask;
  const char* gateway;
  int expected;
};

TEST(CheckHostconfig, AcceptsOnlyUsableFixedAddresses) {
  const HostConfigCase cases[] = {
      {0, "192.168.1.10", "255.255.255.0", "192.168.1.1", 0},
      {0, "192.168.1.10", "255.255.255.0", "0.0.0.0", 0},
      {0, "192.168.1.10", "255.255.0.255", "192.168.1.1", -1},    // not contiguous
      {0, "192.168.1.10", "255.255.255.0", "192.168.2.1", -1},    // gateway elsewhere
      {0, "192.168.1.10", "255.255.255.0", "192.168.1.0", -1},    // gateway without host part
      {0, "192.168.1.10", "255.255.255.254", "0.0.0.0", -1},      // fewer than two host bits
      {0, "192.168.1.10", "0.0.0.0", "0.0.0.0", -1},
      {0, "224.0.0.10", "255.255.255.0", "0.0.0.0", -1},          // multicast
      {0, "192.168.1.0", "255.255.255.0", "0.0.0.0", -1},         // no host part
      {0, "0.0.0.10", "255.255.255.0", "0.0.0.0", -1},            // no network part
      {1, "0.0.0.0", "0.0.0.0", "0.0.0.0", 0},
      {3, "0.0.0.0", "0.0.0.0", "0.0.0.0", 0},
      {4, "192.168.1.10", "255.255.255.0", "0.0.0.0", -1},
  };
  for (const HostConfigCase& c : cases) {
    vl_host_iface entry{};
    entry.addr_mode = c.mode;
    inet_pton(AF_INET, c.addr, &entry.addr);
    inet_pton(AF_INET, c.mask, &entry.mask);
    inet_pton(AF_INET, c.gateway, &entry.gateway);
    EXPECT_EQ(vl_check_hostconfig(&entry), c.expected) << c.mode << " " << c.addr << " " << c.mask << " " << c.gateway;
  }
  EXPECT_EQ(vl_check_hostconfig(nullptr), -1);
}

}  // namespace
