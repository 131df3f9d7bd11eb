// The daemon's command line.
#pragma once

#include <string>

struct CommandLine {
  bool usage_requested = false;
  bool has_interface = false;
  std::string interface_name;
};

// "-interface=<name>" (the last one counts), "--help..." or a lone "?" asks
// for the usage; everything else is ignored.
CommandLine parse_command_line(int argc, const char* const* argv);

void print_usage();
