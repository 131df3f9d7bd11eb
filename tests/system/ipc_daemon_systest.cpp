// The daemon under remote control: its control port seen from the other lab
// host.
#include "vltest/daemon.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;

class ControlledDaemon : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lab_.ok()) << lab_.error();
    daemon_ = std::make_unique<vltest::Daemon>(lab_, vltest::NetLab::A, STREAMERD_PATH);
    ASSERT_TRUE(daemon_->wait_started()) << daemon_->process().output();
  }
  vltest::NetLab lab_;
  std::unique_ptr<vltest::Daemon> daemon_;
};

// A connected client that sends nothing does not hold the daemon up.
TEST_F(ControlledDaemon, SigtermWithAnIdleClientStopsWithinASecond) {
  auto client = daemon_->connect(vltest::NetLab::B);
  ASSERT_NE(client, nullptr);
  VlJsonRef answer = vltest::request(*client, 22, nullptr);  // a bad request: the client is being served
  ASSERT_TRUE(answer);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(daemon_->stop(5s), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_TRUE(daemon_->process().output().ends_with("Cleaning up all velanto stuff ... done!\n"))
      << daemon_->process().output();
}

}  // namespace
