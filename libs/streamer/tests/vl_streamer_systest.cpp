// Start-up and shutdown on a lab host, with no audio server reachable.
#include "streamer/vl_streamer.h"

#include "vltest/log_capture.h"
#include "vltest/netlab.h"
#include "vltest/temp_home.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

std::string captured(const std::function<void()>& action) {
  testing::internal::CaptureStdout();
  action();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

class Streamer : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string absent = "vltest_absent_" + std::to_string(getpid());
    setenv("JACK_DEFAULT_SERVER", absent.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
  }
  vltest::TempHome home_;
  vltest::LogCapture log_;
};

TEST_F(Streamer, StartupScansTheHostAndShutdownChecksTheDevice) {
  vltest::NetLab lab;
  ASSERT_TRUE(lab.ok()) << lab.error();
  lab.run_in(vltest::NetLab::A, [&] {
    VlDevice* device = nullptr;
    EXPECT_EQ(captured([&] { device = vl_streamer_startup(nullptr); }), "Initializing velanto stuff ...  success.\n");
    ASSERT_NE(device, nullptr);
    // The lab host's one interface, served by the software RTP engine.
    const VlNetworkInterface* veth0 = device->interfaces.get();
    ASSERT_NE(veth0, nullptr);
    EXPECT_STREQ(veth0->entry.name, "veth0");
    EXPECT_EQ(veth0->type, vl_nic_type_software);
    EXPECT_NE(veth0->send_manager, nullptr);
    EXPECT_NE(veth0->recv_manager, nullptr);
    EXPECT_EQ(veth0->next, nullptr);
    for (const char* name : {"GeneratorSine", "GeneratorRamp", "AnalyzerFile", "AnalyzerRamp"})
      EXPECT_NE(vl_device_audio_find(device, name), nullptr) << name;

    EXPECT_EQ(captured([&] { EXPECT_EQ(vl_streamer_startup("other0"), device); }), "");

    VlDevice stranger;
    EXPECT_EQ(captured([&] { vl_streamer_shutdown(&stranger); }), "Cleaning up all velanto stuff ... failure\n");
    EXPECT_EQ(log_.count("Invalid velanto device to release!"), 1);

    EXPECT_EQ(captured([&] { vl_streamer_shutdown(device); }), "Cleaning up all velanto stuff ... done!\n");
    EXPECT_EQ(captured([&] { vl_streamer_shutdown(device); }), "Cleaning up all velanto stuff ...");
  });
}

TEST_F(Streamer, StartupWithoutInterfacesFailsAndLeavesNothingBehind) {
  vltest::NetLab lab(vltest::NetLab::without_first_link);
  ASSERT_TRUE(lab.ok()) << lab.error();
  lab.run_in(vltest::NetLab::A, [&] {
    VlDevice* device = nullptr;
    EXPECT_EQ(captured([&] { device = vl_streamer_startup("eth0"); }), "Initializing velanto stuff ...  failed.\n");
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(log_.count("Could not find any network interfaces for VELANTO!"), 1);
  });
  // Nothing stayed up: the next start-up begins afresh.
  ASSERT_TRUE(lab.add_link(vltest::NetLab::A, "eth0", "10.1.0.1/24")) << lab.error();
  lab.run_in(vltest::NetLab::A, [&] {
    VlDevice* device = nullptr;
    EXPECT_EQ(captured([&] { device = vl_streamer_startup("eth0"); }), "Initializing velanto stuff ...  success.\n");
    ASSERT_NE(device, nullptr);
    EXPECT_STREQ(device->interfaces->entry.name, "eth0");
    EXPECT_EQ(captured([&] { vl_streamer_shutdown(device); }), "Cleaning up all velanto stuff ... done!\n");
  });
}

}  // namespace
