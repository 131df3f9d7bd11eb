#include "daemon_usage.h"

#include <dirent.h>

#include <fstream>
#include <regex>
#include <sstream>

namespace daemon_usage {

namespace {

int entries(const std::string& directory) {
  DIR* dir = opendir(directory.c_str());
  if (!dir) return -1;
  int count = 0;
  while (const dirent* entry = readdir(dir))
    if (entry->d_name[0] != '.') ++count;
  closedir(dir);
  return count;
}

long rss_kib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
  return -1;
}

}  // namespace

Usage usage_of(pid_t pid) {
  const std::string proc = "/proc/" + std::to_string(pid);
  return {entries(proc + "/fd"), entries(proc + "/task"), rss_kib(pid)};
}

std::vector<std::string> logging_environment() { return {"LOG4C_RCPATH=" VLTEST_LOG4C_RCPATH}; }

std::vector<std::string> serious_records(const std::string& error_output) {
  // "velanto_file" lines: date, time, thread name (may hold spaces), the
  // priority in 8 columns, the category.
  static const std::regex serious(R"(\d{2}:\d{2}:\d{2}\.\d{3} .* (ERROR|CRIT|ALERT|FATAL) +(velanto|root))");
  std::vector<std::string> found;
  std::istringstream lines(error_output);
  std::string line;
  while (std::getline(lines, line))
    if (std::regex_search(line, serious)) found.push_back(line);
  return found;
}

}  // namespace daemon_usage
