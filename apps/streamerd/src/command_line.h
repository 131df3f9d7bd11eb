// The daemon's command line.
#pragma once

#include <string>

struct CommandLine {
  bool usage_requested = false;
  bool has_interface = false;
  std::string interface_name;
  std::string ipc_address = "0.0.0.0";  // the control port's address
  bool has_ptp_socket = false;
  std::string ptp_socket;  // ptp4l's management socket
};

// "-interface=<name>", "-ipc-address=<IPv4 address>" and "-ptp=<path>" (the
// last of each counts); "--help..." or a lone "?" asks for the usage;
// everything else is ignored.
CommandLine parse_command_line(int argc, const char* const* argv);

void print_usage();
