#include "command_line.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char interface_prefix[] = "-interface=";
constexpr const char ipc_address_prefix[] = "-ipc-address=";
constexpr const char ptp_prefix[] = "-ptp=";
constexpr const char timer_threads_prefix[] = "-timer-threads=";
constexpr const char help_prefix[] = "--help";

bool starts_with(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

void parse_timer_threads(const char* text, CommandLine& line) {
  char* end = nullptr;
  const unsigned long count = std::isdigit(static_cast<unsigned char>(*text)) ? std::strtoul(text, &end, 10) : 0;
  if (end && *end == '\0' && count >= 1 && count <= max_timer_threads) {
    line.timer_threads = static_cast<unsigned>(count);
    line.error.clear();
  } else {
    line.error = std::string("-timer-threads takes a number from 1 to ") + std::to_string(max_timer_threads) +
                 ", not '" + text + "'";
  }
}

}  // namespace

CommandLine parse_command_line(int argc, const char* const* argv) {
  CommandLine line;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (starts_with(arg, interface_prefix)) {
      line.has_interface = true;
      line.interface_name = arg + std::strlen(interface_prefix);
    } else if (starts_with(arg, ipc_address_prefix)) {
      line.ipc_address = arg + std::strlen(ipc_address_prefix);
    } else if (starts_with(arg, ptp_prefix)) {
      line.has_ptp_socket = true;
      line.ptp_socket = arg + std::strlen(ptp_prefix);
    } else if (starts_with(arg, timer_threads_prefix)) {
      parse_timer_threads(arg + std::strlen(timer_threads_prefix), line);
    } else if (starts_with(arg, help_prefix) || std::strcmp(arg, "?") == 0) {
      line.usage_requested = true;
      return line;
    }
  }
  return line;
}

void print_usage() {
  std::printf("Usage: -interface=\"Ethernet interface name string\"\n");
  std::printf("       --help\n");
  std::printf("       /?\n");
  std::printf("       -ipc-address=<IPv4 address of the control port, default all>\n");
  std::printf("       -ptp=<path of ptp4l's management socket, default /var/run/ptp4l>\n");
  std::printf("       -timer-threads=<threads sending the streams of one packet time, 1 to %u,"
              " default one per CPU>\n",
              max_timer_threads);
}
