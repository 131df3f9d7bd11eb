// The daemon as a process: what it prints, how it stops.
#include "vltest/process.h"
#include "vltest/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

const std::string usage =
    "Usage: -interface=\"Ethernet interface name string\"\n"
    "       --help\n"
    "       /?\n";
const std::string banner = "Running VELANTO-streamer 1.3-8727D (unknown)\n";
const std::string started = "Initializing velanto stuff ...  success.\n";
const std::string stopped = "Cleaning up all velanto stuff ... done!\n";

class Daemon : public ::testing::Test {
 protected:
  vltest::ProcessOptions options() {
    return {{"HOME=" + home_.path()}, work_.path()};
  }
  std::vector<std::string> command(std::vector<std::string> args) {
    args.insert(args.begin(), STREAMERD_PATH);
    return args;
  }
  vltest::TempDir home_;
  vltest::TempDir work_;
};

TEST_F(Daemon, StartsPrintsProgressAndStopsOnSigterm) {
  vltest::Process daemon(command({}), options());
  ASSERT_TRUE(daemon.wait_for_output(started, 10s)) << daemon.output();
  EXPECT_EQ(daemon.output(), banner + "Press Ctrl+C to quit ...\n\n" + started);
  daemon.signal(SIGTERM);
  EXPECT_EQ(daemon.wait_exit(10s), 0);
  EXPECT_EQ(daemon.output(), banner + "Press Ctrl+C to quit ...\n\n" + started + stopped);
}

TEST_F(Daemon, NamesTheLastInterfaceGiven) {
  vltest::Process daemon(command({"-interface=first0", "/?", "-interface=second0"}), options());
  ASSERT_TRUE(daemon.wait_for_output(started, 10s)) << daemon.output();
  EXPECT_EQ(daemon.output(), banner + "Using ethernet interface second0\n" + "Press Ctrl+C to quit ...\n\n" + started);
  daemon.signal(SIGINT);
  EXPECT_EQ(daemon.wait_exit(10s), 0);
}

TEST_F(Daemon, TwoQuickSigintsStillStopCleanly) {
  vltest::Process daemon(command({}), options());
  ASSERT_TRUE(daemon.wait_for_output(started, 10s)) << daemon.output();
  daemon.signal(SIGINT);
  daemon.signal(SIGINT);
  EXPECT_EQ(daemon.wait_exit(10s), 0);
  EXPECT_TRUE(daemon.output().ends_with(stopped)) << daemon.output();
}

TEST_F(Daemon, HelpAndQuestionMarkPrintUsageAndExitZero) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"-interface=eth0", "--help-me"}, {"-interface=eth0", "?"}}) {
    const vltest::ProcessResult result = vltest::run_process(command(args), 10s, options());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, usage);
  }
}

}  // namespace
