// What a daemon process holds, as /proc shows it, and what it logged at
// error or worse (through the test log configuration, "log4crc" here).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace daemon_usage {

struct Usage {
  int descriptors = -1;
  int threads = -1;
  long rss_kib = -1;  // VmRSS
};

Usage usage_of(pid_t pid);

// The environment that makes a daemon read the test log configuration.
std::vector<std::string> logging_environment();

// The error, critical, alert and fatal records in a daemon's standard error.
std::vector<std::string> serious_records(const std::string& error_output);

}  // namespace daemon_usage
