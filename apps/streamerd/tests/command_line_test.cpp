#include "command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

CommandLine parse(std::initializer_list<const char*> args) {
  std::vector<const char*> argv{"streamerd"};
  argv.insert(argv.end(), args.begin(), args.end());
  return parse_command_line(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLine, NoArgumentsSelectsNoInterface) {
  const CommandLine line = parse({});
  EXPECT_FALSE(line.usage_requested);
  EXPECT_FALSE(line.has_interface);
}

TEST(CommandLine, LaterInterfaceReplacesEarlier) {
  const CommandLine line = parse({"-interface=eth0", "-interface=veth1"});
  EXPECT_TRUE(line.has_interface);
  EXPECT_EQ(line.interface_name, "veth1");
}

TEST(CommandLine, HelpPrefixAndLoneQuestionMarkAskForUsage) {
  EXPECT_TRUE(parse({"--help"}).usage_requested);
  EXPECT_TRUE(parse({"--helpme"}).usage_requested);
  EXPECT_TRUE(parse({"-interface=eth0", "?"}).usage_requested);
  EXPECT_FALSE(parse({"/?"}).usage_requested);
  EXPECT_FALSE(parse({"??"}).usage_requested);
  EXPECT_FALSE(parse({"-help"}).usage_requested);
}

TEST(CommandLine, UnknownArgumentsAreIgnored) {
  const CommandLine line = parse({"-interface=lo1", "bogus", "-i"});
  EXPECT_FALSE(line.usage_requested);
  EXPECT_EQ(line.interface_name, "lo1");
}

TEST(CommandLine, ControlAddressAndPtpSocket) {
  CommandLine line = parse({});
  EXPECT_EQ(line.ipc_address, "0.0.0.0");
  EXPECT_FALSE(line.has_ptp_socket);
  line = parse({"-ipc-address=10.0.0.1", "-ptp=/tmp/a", "-ipc-address=127.0.0.1", "-ptp=/run/ptp4l"});
  EXPECT_EQ(line.ipc_address, "127.0.0.1");
  EXPECT_TRUE(line.has_ptp_socket);
  EXPECT_EQ(line.ptp_socket, "/run/ptp4l");
}

TEST(CommandLine, TimerThreadsFromOneToSixteen) {
  EXPECT_EQ(parse({}).timer_threads, 0u);
  EXPECT_EQ(parse({"-timer-threads=3"}).timer_threads, 3u);
  EXPECT_EQ(parse({"-timer-threads=x", "-timer-threads=16"}).error, "");
  for (const char* bad : {"-timer-threads=0", "-timer-threads=17", "-timer-threads=2x", "-timer-threads=",
                          "-timer-threads=-1", "-timer-threads= 2"}) {
    const CommandLine line = parse({bad});
    EXPECT_EQ(line.timer_threads, 0u) << bad;
    EXPECT_NE(line.error, "") << bad;
  }
}

TEST(CommandLine, EmptyInterfaceNameIsKept) {
  const CommandLine line = parse({"-interface="});
  EXPECT_TRUE(line.has_interface);
  EXPECT_EQ(line.interface_name, "");
}

}  // namespace
