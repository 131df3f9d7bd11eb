#include "vlsys/host_process.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr std::size_t cmdline_read_max = 255;

std::string registration_path(const std::string& name) { return "/var/run/" + name + ".pid"; }

// Base name of the running program, cut to vl_register_name_max; empty when
// the command line cannot be read or names no file.
std::string program_base_name() {
  const int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  char cmdline[cmdline_read_max + 1] = {};
  const ssize_t n = read(fd, cmdline, cmdline_read_max);
  close(fd);
  if (n <= 0) return {};
  // The first element ends at its NUL, or at the end of what was read.
  const char* slash = std::strrchr(cmdline, '/');
  std::string base = slash ? slash + 1 : cmdline;
  if (base.size() > vl_register_name_max) base.resize(vl_register_name_max);
  return base;
}

bool write_pid(int fd) {
  char text[24];
  const int length = std::snprintf(text, sizeof text, "%ld", static_cast<long>(getpid()));
  return length > 0 && write(fd, text, static_cast<std::size_t>(length)) == length;
}

// The process id at the start of the file, or 0 when it holds none. Zero
// and negative numbers are refused: kill() would take them as a process
// group or as every process.
pid_t read_pid(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[32] = {};
  const ssize_t n = read(fd, text, sizeof text - 1);
  close(fd);
  if (n <= 0) return 0;
  char* end = nullptr;
  errno = 0;
  const long pid = std::strtol(text, &end, 10);
  if (end == text || errno != 0 || pid <= 0 || pid > INT_MAX) return 0;
  return static_cast<pid_t>(pid);
}

}  // namespace

int vl_register() {
  const std::string base = program_base_name();
  if (base.empty()) return -1;
  const std::string path = registration_path(base);
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  const bool written = write_pid(fd);
  if (close(fd) != 0 || !written) {
    unlink(path.c_str());
    return -1;
  }
  return 0;
}

int vl_unregister() {
  const std::string base = program_base_name();
  if (base.empty()) return -1;
  unlink(registration_path(base).c_str());
  return 0;
}

void vl_kill(const char* name, int signal) {
  if (!name || name[0] == '\0' || std::strchr(name, '/')) return;
  const pid_t pid = read_pid(registration_path(name));
  if (pid > 0) kill(pid, signal);
}
