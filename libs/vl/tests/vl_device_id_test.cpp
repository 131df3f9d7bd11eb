#include "vl/vl_device_id.h"

#include "vl/vl_device.h"
#include "vltest/log_capture.h"
#include "vltest/temp_home.h"
#include "vlutil/vl_json_ref.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <memory>
#include <string>

namespace {

using IdPtr = std::unique_ptr<VlDeviceId>;

IdPtr make_id(const char* vendor, const char* product, VlPlatform platform = {2, 1}) {
  return IdPtr(vl_device_id_ctor(vendor, product, "serial", &platform));
}

std::string dumped(const json_t* json) {
  char* text = json_dumps(json, JSON_COMPACT | JSON_PRESERVE_ORDER);
  std::string result = text ? text : "";
  free(text);
  return result;
}

struct PlatformCase {
  VlPlatform given;
  uint32_t variant;  // after construction
  const char* message;
};

TEST(DeviceId, LogsItsPlatformAndRefusesUnknownTypes) {
  const PlatformCase cases[] = {
      {{1, 7}, 7, "Velanto streaming running on Windows PC (software streaming)!"},
      {{2, 1}, 1, "Velanto streaming running on Linux PC (software streaming)!"},
      {{4, 0}, 0, "Velanto streaming running on Solmo Developers Board (software streaming)!"},
      {{5, 3}, 3, "Velanto streaming running on NORZEL Board (FPGA streaming on Quabe)!"},
      {{5, 9}, 1, "Invalid/Unknown platform variant! Simulating bare norzel platform."},
  };
  for (const PlatformCase& c : cases) {
    vltest::LogCapture log;
    const IdPtr id = make_id("v", "p", c.given);
    ASSERT_NE(id, nullptr) << c.message;
    EXPECT_EQ(id->platform.variant, c.variant);
    EXPECT_EQ(log.count(c.message), 1);
    EXPECT_EQ(log.count("Serial Number: serial"), 1);
  }
  for (uint32_t type : {0u, 3u, 6u}) {
    vltest::LogCapture log;
    EXPECT_EQ(make_id("v", "p", {type, 1}), nullptr);
    EXPECT_EQ(log.count("Invalid/Unknown platform!"), 1);
  }
}

TEST(DeviceId, CutsGivenTextsTo126Characters) {
  const std::string long_text(200, 'x');
  const IdPtr id = make_id(long_text.c_str(), "");
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(std::string(vl_device_id_vendor(id.get())), long_text.substr(0, 126));
  EXPECT_STREQ(vl_device_id_product(id.get()), "");
  EXPECT_STREQ(vl_device_id_serial(id.get()), "serial");
}

TEST(DeviceId, EncodesInOrderAndDecodesBack) {
  const IdPtr id = make_id("Acme", "Box", {5, 2});
  const VlJsonRef json(vl_device_id_encode(id.get()));
  EXPECT_EQ(dumped(json.get()),
            R"({"vendor_id":"Acme","device":"Box","serial_number":"serial","device_type":5,"device_variant":2})");
  const IdPtr back(vl_device_id_decode(json.get()));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(dumped(VlJsonRef(vl_device_id_encode(back.get())).get()), dumped(json.get()));
  EXPECT_EQ(dumped(VlJsonRef(vl_device_id_encode(nullptr)).get()), "{}");
}

TEST(DeviceId, DecodeNeedsMembersAndAKnownPlatform) {
  errno = 0;
  EXPECT_EQ(vl_device_id_decode(VlJsonRef(json_object()).get()), nullptr);
  EXPECT_EQ(errno, EINVAL);
  vltest::LogCapture log;
  EXPECT_EQ(vl_device_id_decode(VlJsonRef(json_pack("{s:s}", "vendor_id", "Acme")).get()), nullptr);
  EXPECT_EQ(log.count("Invalid/Unknown platform!"), 1);
}

struct MatchCase {
  const char* vendor;
  const char* product;
  bool equal;
  const char* warning;
};

TEST(DeviceId, ConfigurationMatchesByVendorAndProductPrefix) {
  const IdPtr device = make_id("Brevolt", "Linux PC");
  const MatchCase cases[] = {
      {"Brevolt", "Linux PC", true, nullptr},
      {"", "", true, nullptr},
      {"Brev", "Linux", true, nullptr},
      {"BrevoltX", "Linux PC", false, "Wrong vendor id in config: BrevoltX (should be Brevolt)!"},
      {"Brevolt", "Linux PC 2", false, "Wrong product id in config: Linux PC 2 (should be Linux PC)!"},
  };
  for (const MatchCase& c : cases) {
    vltest::LogCapture log;
    const IdPtr config = make_id(c.vendor, c.product, {5, 1});
    EXPECT_EQ(vl_device_is_equal(config.get(), device.get()), c.equal) << c.vendor << "/" << c.product;
    EXPECT_EQ(log.count(c.warning ? c.warning : "Wrong"), c.warning ? 1 : 0);
  }
  EXPECT_TRUE(vl_device_is_equal(device.get(), device.get()));
  EXPECT_FALSE(vl_device_is_equal(nullptr, device.get()));
}

TEST(DeviceId, DeviceTakesTheVendorFileFieldsAsTheyAre) {
  vltest::TempHome home;
  ASSERT_EQ(mkdir((home.path() + "/.Velanto").c_str(), 0775), 0);
  std::ofstream(home.config_path("velanto_vendor.cfg"), std::ios::binary) << "Acme\xC0\x80\xC0\x80SN-7\n";
  std::unique_ptr<VlDevice, void (*)(VlDevice*)> device(vl_device_ctor(nullptr), vl_device_dtor);
  ASSERT_NE(device, nullptr);
  EXPECT_STREQ(device->id->vendor, "Acme");
  EXPECT_STREQ(device->id->product, "");
  EXPECT_STREQ(device->id->serial, "SN-7");
  EXPECT_TRUE(vl_version_is_current(device->version.get()));
}

}  // namespace
