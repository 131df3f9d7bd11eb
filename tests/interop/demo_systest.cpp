// The README's demo, run as a newcomer runs it (with the programs already
// built): it streams sample-exact and leaves nothing behind, also when
// interrupted.
#include "interop_lab.h"

#include <csignal>
#include <sstream>

namespace interop {
namespace {

std::vector<std::string> demo(const std::string& seconds) {
  return {"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", "/bin/bash", DEMO_SCRIPT, "--seconds", seconds};
}

const vltest::ProcessOptions built{{"STREAMERD=" STREAMERD_PATH, "STREAMERCTL=" STREAMERCTL_PATH}, "", ""};

// The demo's namespaces are named after its process.
bool namespaces_left(pid_t demo_pid) {
  const vltest::ProcessResult list = vltest::run_process({vltest::ip_program(), "netns", "list"}, 10s);
  return list.output.find("vldemo-" + std::to_string(demo_pid) + "-") != std::string::npos;
}

// The last line of the live view ("  6s  A snd ...  |  B rcv ...").
std::string last_view_line(const std::string& output) {
  std::stringstream lines(output);
  std::string line, last;
  while (std::getline(lines, line))
    if (line.find("s  A ") != std::string::npos) last = line;
  return last;
}

TEST(Demo, StreamsSampleExactForTheSecondsAskedAndCleansUp) {
  vltest::Process run(demo("6"), built);
  ASSERT_EQ(run.wait_exit(60s), 0) << run.output();
  const std::string line = last_view_line(run.output());
  // One mismatch is the ramp's start; the offset is the receiver's delay
  // (480 frames) before the 16-bit wrap: every sample since in place.
  EXPECT_NE(line.find("AnalyzerRamp mismatches 1 offset 65056"), std::string::npos) << run.output();
  EXPECT_NE(line.find("snd "), std::string::npos) << line;
  EXPECT_NE(line.find("lost 0 jitter"), std::string::npos) << line;
  EXPECT_FALSE(namespaces_left(run.pid()));
}

TEST(Demo, CtrlCStopsTheDaemonsAndRemovesTheNamespaces) {
  vltest::Process run(demo("0"), built);
  ASSERT_TRUE(run.wait_for_output("Ctrl+C stops the demo", 60s)) << run.output();
  run.signal(SIGINT);
  EXPECT_EQ(run.wait_exit(30s), 130) << run.output();
  EXPECT_FALSE(namespaces_left(run.pid()));
}

}  // namespace
}  // namespace interop
