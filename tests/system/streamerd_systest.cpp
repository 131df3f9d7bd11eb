// The daemon as a process on a lab host: what it prints, how it stops.
#include "vltest/netlab.h"
#include "vltest/process.h"
#include "vltest/temp_dir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

const std::string usage =
    "Usage: -interface=\"Ethernet interface name string\"\n"
    "       --help\n"
    "       /?\n"
    "       -ipc-address=<IPv4 address of the control port, default all>\n"
    "       -ptp=<path of ptp4l's management socket, default /var/run/ptp4l>\n"
    "       -timer-threads=<threads sending the streams of one packet time, 1 to 16, default one per CPU>\n";
const std::string banner = "Running VELANTO-streamer 1.3-8727D (unknown)\n";
const std::string started =
    "Initializing velanto stuff ...  success.\n"
    "Initializing velanto IPC ... success.\n"
    "Loading last configuration ... failed. Could not read velanto.cfg. Using defaults.\n";
const std::string stopped = "Cleaning up all velanto stuff ... done!\n";

// The daemon runs on lab host A, whose one interface is veth0, and reaches
// no audio server.
class Daemon : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(lab_.ok()) << lab_.error(); }
  vltest::ProcessOptions options() {
    return {{"HOME=" + home_.path(), "JACK_NO_START_SERVER=1",
             "JACK_DEFAULT_SERVER=vltest_absent_" + std::to_string(getpid())},
            work_.path()};
  }
  std::vector<std::string> command(std::vector<std::string> args, const std::string& program = STREAMERD_PATH) {
    args.insert(args.begin(), program);
    return lab_.command(vltest::NetLab::A, args);
  }
  vltest::NetLab lab_;
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

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return in ? text.str() : std::string();
}

// Started under a name of its own (a link), the daemon registers itself in
// /var/run under that name for as long as it runs.
TEST_F(Daemon, RegistersItsProcessIdWhileRunning) {
  if (geteuid() != 0) GTEST_SKIP() << "/var/run is writable by root only";
  const std::string name = "streamerd-test-" + std::to_string(getpid());
  const std::string link = work_.path() + "/" + name;
  ASSERT_EQ(symlink(STREAMERD_PATH, link.c_str()), 0);
  const std::string pid_file = "/var/run/" + name + ".pid";
  vltest::Process daemon(command({}, link), options());
  ASSERT_TRUE(daemon.wait_for_output(started, 10s)) << daemon.output();
  EXPECT_EQ(read_file(pid_file), std::to_string(daemon.pid()));
  daemon.signal(SIGTERM);
  EXPECT_EQ(daemon.wait_exit(10s), 0);
  EXPECT_EQ(access(pid_file.c_str(), F_OK), -1);
}

TEST_F(Daemon, FailsWithoutNetworkInterfaces) {
  ASSERT_TRUE(lab_.ip(vltest::NetLab::A, {"link", "delete", "veth0"})) << lab_.error();
  const vltest::ProcessResult result = vltest::run_process(command({}), 10s, options());
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(result.output.starts_with(banner + "Press Ctrl+C to quit ...\n\n" +
                                        "Initializing velanto stuff ...  failed.\n" +
                                        "Error: Couldn't startup streamer! errno = "))
      << result.output;
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
