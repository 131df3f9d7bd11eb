#include "streamer/vl_streamer.h"

#include "vltest/log_capture.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

std::string captured(void (*action)()) {
  testing::internal::CaptureStdout();
  action();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

VlDevice* device = nullptr;

TEST(Streamer, StartupIsIdempotentAndShutdownChecksTheDevice) {
  vltest::LogCapture capture;
  EXPECT_EQ(captured([] { device = vl_streamer_startup(nullptr); }), "Initializing velanto stuff ...  success.\n");
  ASSERT_NE(device, nullptr);

  VlDevice* again = nullptr;
  testing::internal::CaptureStdout();
  again = vl_streamer_startup("other0");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(again, device);

  VlDevice stranger;
  testing::internal::CaptureStdout();
  vl_streamer_shutdown(&stranger);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cleaning up all velanto stuff ... failure\n");
  EXPECT_EQ(capture.count("Invalid velanto device to release!"), 1);

  EXPECT_EQ(captured([] { vl_streamer_shutdown(device); }), "Cleaning up all velanto stuff ... done!\n");
  EXPECT_EQ(captured([] { vl_streamer_shutdown(device); }), "Cleaning up all velanto stuff ...");
}

}  // namespace
