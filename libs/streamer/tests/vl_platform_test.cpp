// The platform's choice of PTP reference.
#include "streamer/vl_platform.h"

#include "linuxptp/vl_linuxptp.h"
#include "ptp4l_test_support.h"
#include "vl/vl_posix_ptp.h"

#include <gtest/gtest.h>

namespace {

class Platform : public ::testing::Test {
 protected:
  void TearDown() override { vl_platform_set_ptp_socket(vl_linuxptp_default_socket); }
  ptp4ltest::ScriptedPtp4lDir dir_;
};

TEST_F(Platform, UsesThePtp4lOfTheSettingWhenItAnswers) {
  ptp4ltest::ScriptedPtp4l ptp4l(dir_.socket);
  ASSERT_TRUE(ptp4l.ok());
  vl_platform_set_ptp_socket(dir_.socket.c_str());
  ASSERT_EQ(vl_platform_init(), 0);
  EXPECT_NE(vl_linuxptp_instance(), nullptr);
  EXPECT_EQ(vl_posix_ptp_instance(), nullptr);
  vl_platform_exit();
  EXPECT_EQ(vl_linuxptp_instance(), nullptr);

  vl_platform_set_ptp_socket(nullptr);
  ASSERT_EQ(vl_platform_init(), 0);
  EXPECT_NE(vl_posix_ptp_instance(), nullptr);
  vl_platform_exit();
}

}  // namespace
