// The daemon's command line.
#pragma once

#include <string>

constexpr unsigned max_timer_threads = 16;

struct CommandLine {
  bool usage_requested = false;
  bool has_interface = false;
  std::string interface_name;
  std::string ipc_address = "0.0.0.0";  // the control port's address
  bool has_ptp_socket = false;
  std::string ptp_socket;  // ptp4l's management socket
  // Threads sending the streams of one packet time; 0: one per usable CPU.
  unsigned timer_threads = 0;
  std::string error;  // a value that cannot be used; the daemon does not start
};

// "-interface=<name>", "-ipc-address=<IPv4 address>", "-ptp=<path>" and
// "-timer-threads=<1 to 16>" (the last of each counts); "--help..." or a
// lone "?" asks for the usage; everything else is ignored.
CommandLine parse_command_line(int argc, const char* const* argv);

void print_usage();
