#include "vltest/netlab.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace vltest {
namespace {

using namespace std::chrono_literals;

constexpr const char* netns_dir = "/run/netns/";
// Lab namespaces are named "vlt-<pid>-<counter>-a|b" so that the creator
// of a leftover one can be told from its name.
constexpr const char* name_prefix = "vlt-";

std::mutex registry_mutex;
std::vector<uint64_t> lab_inodes;

void register_inode(uint64_t inode) {
  std::lock_guard<std::mutex> lock(registry_mutex);
  lab_inodes.push_back(inode);
}

void unregister_inode(uint64_t inode) {
  std::lock_guard<std::mutex> lock(registry_mutex);
  lab_inodes.erase(std::remove(lab_inodes.begin(), lab_inodes.end(), inode), lab_inodes.end());
}

uint64_t inode_of(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_ino) : 0;
}

uint64_t current_namespace_inode() { return inode_of("/proc/thread-self/ns/net"); }

std::string find_program(const char* name) {
  for (const char* dir : {"/usr/sbin/", "/sbin/", "/usr/bin/", "/bin/"}) {
    const std::string path = std::string(dir) + name;
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  return name;
}

// Runs a program with its standard error joined to its output, so that a
// failing `ip` call can be reported.
ProcessResult run_tool(const std::string& program, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", program};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_process(argv, 20s);
}

std::string join_words(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& w : words) text += (text.empty() ? "" : " ") + w;
  return text;
}

std::string mac_text(const std::array<uint8_t, 6>& mac) {
  char text[18];
  std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4],
                mac[5]);
  return text;
}

bool pid_is_gone(pid_t pid) { return kill(pid, 0) != 0 && errno == ESRCH; }

}  // namespace

const std::string& ip_program() {
  static const std::string path = find_program("ip");
  return path;
}

std::string netlab_script() { return VLTEST_NETLAB_SH; }

NetLab::NetLab(FirstLink first_link) {
  static std::atomic<unsigned> counter{0};
  const std::string base = name_prefix + std::to_string(getpid()) + "-" + std::to_string(counter++);
  names_ = {base + "-a", base + "-b"};
  ok_ = build(first_link);
}

NetLab::~NetLab() {
  for (int host : {A, B}) {
    if (inodes_[host] != 0) unregister_inode(inodes_[host]);
    if (created_[host]) run_ip({"netns", "delete", names_[host]});
  }
}

bool NetLab::run_ip(const std::vector<std::string>& args) {
  const ProcessResult result = run_tool(ip_program(), args);
  if (result.status == 0) return true;
  error_ = "ip " + join_words(args) + ": " + result.output;
  return false;
}

bool NetLab::ip(Host host, const std::vector<std::string>& args) {
  std::vector<std::string> full = {"-n", names_[host]};
  full.insert(full.end(), args.begin(), args.end());
  return run_ip(full);
}

bool NetLab::build(FirstLink first_link) {
  remove_stale();
  for (Host host : {A, B}) {
    if (!run_ip({"netns", "add", names_[host]})) return false;
    created_[host] = true;
    inodes_[host] = inode_of(netns_dir + names_[host]);
    if (inodes_[host] == 0) {
      error_ = "namespace " + names_[host] + " has no inode";
      return false;
    }
    register_inode(inodes_[host]);
    if (!ip(host, {"link", "set", "lo", "up"})) return false;
  }
  if (first_link == without_first_link) return true;
  // Made inside A with its peer moved straight to B, so that the pair never
  // appears among the host's own interfaces.
  if (!ip(A, {"link", "add", link_device[A], "address", mac_text(link_mac[A]), "type", "veth", "peer", "name",
              link_device[B], "address", mac_text(link_mac[B]), "netns", names_[B]}))
    return false;
  for (Host host : {A, B}) {
    if (!ip(host, {"addr", "add", std::string(link_address[host]) + "/24", "dev", link_device[host]}) ||
        !ip(host, {"link", "set", link_device[host], "up"}) ||
        !ip(host, {"route", "add", multicast_route, "dev", link_device[host]}))
      return false;
  }
  return true;
}

bool NetLab::add_second_link() {
  if (!ip(A, {"link", "add", second_link_device[A], "type", "veth", "peer", "name", second_link_device[B], "netns",
              names_[B]}))
    return false;
  for (Host host : {A, B}) {
    if (!ip(host, {"addr", "add", std::string(second_link_address[host]) + "/24", "dev", second_link_device[host]}) ||
        !ip(host, {"link", "set", second_link_device[host], "up"}))
      return false;
  }
  return true;
}

bool NetLab::add_link(Host host, const std::string& device, const std::string& address, const std::string& mac) {
  const Host peer_host = host == A ? B : A;
  std::vector<std::string> args = {"link", "add", device};
  if (!mac.empty()) args.insert(args.end(), {"address", mac});
  args.insert(args.end(), {"type", "veth", "peer", "name", "p" + device, "netns", names_[peer_host]});
  if (!ip(host, args)) return false;
  if (!address.empty() && !ip(host, {"addr", "add", address, "dev", device})) return false;
  return ip(host, {"link", "set", device, "up"});
}

bool NetLab::add_netem(Host host, const std::string& device, const std::vector<std::string>& netem_args) {
  static const std::string tc = find_program("tc");
  std::vector<std::string> args = {"-n", names_[host], "qdisc", "add", "dev", device, "root", "netem"};
  args.insert(args.end(), netem_args.begin(), netem_args.end());
  const ProcessResult result = run_tool(tc, args);
  if (result.status == 0) return true;
  error_ = "tc " + join_words(args) + ": " + result.output;
  return false;
}

bool NetLab::join(Host host) const {
  if (inodes_[host] == 0) return false;
  const int fd = open((netns_dir + names_[host]).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool joined = setns(fd, CLONE_NEWNET) == 0;
  close(fd);
  return joined && current_namespace_inode() == inodes_[host];
}

void NetLab::run_in(Host host, const std::function<void()>& fn) const {
  std::thread thread = start_in(host, fn);
  thread.join();
}

std::thread NetLab::start_in(Host host, std::function<void()> fn) const {
  return std::thread([this, host, fn = std::move(fn)] {
    if (!join(host)) {
      ADD_FAILURE() << "could not enter lab namespace " << names_[host] << ": " << std::strerror(errno);
      return;
    }
    require_lab_namespace();
    fn();
  });
}

int NetLab::run_child_in(Host host, const std::function<int()>& fn, std::chrono::milliseconds timeout) const {
  return run_in_child(
      [&] {
        if (!join(host)) return 125;
        require_lab_namespace();
        return fn();
      },
      timeout);
}

std::vector<std::string> NetLab::command(Host host, const std::vector<std::string>& argv) const {
  std::vector<std::string> full = {ip_program(), "netns", "exec", names_[host]};
  full.insert(full.end(), argv.begin(), argv.end());
  return full;
}

void NetLab::remove_stale() {
  DIR* dir = opendir(netns_dir);
  if (!dir) return;
  std::vector<std::string> stale;
  while (const dirent* entry = readdir(dir)) {
    int pid = 0;
    if (std::sscanf(entry->d_name, "vlt-%d-", &pid) == 1 && pid > 0 && pid != getpid() && pid_is_gone(pid))
      stale.emplace_back(entry->d_name);
  }
  closedir(dir);
  // Another test may be removing the same leftovers: failures do not matter.
  for (const std::string& name : stale) run_tool(ip_program(), {"netns", "delete", name});
}

bool in_lab_namespace() {
  const uint64_t inode = current_namespace_inode();
  std::lock_guard<std::mutex> lock(registry_mutex);
  return inode != 0 && std::find(lab_inodes.begin(), lab_inodes.end(), inode) != lab_inodes.end();
}

void require_lab_namespace() {
  if (in_lab_namespace()) return;
  std::fprintf(stderr,
               "vltest: refusing to run a packet test outside a lab network namespace "
               "(this thread is in net:[%llu])\n",
               static_cast<unsigned long long>(current_namespace_inode()));
  std::fflush(stderr);
  std::abort();
}

int run_in_child(const std::function<int()>& fn, std::chrono::milliseconds timeout) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) _exit(fn() & 0xff);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      return -1;
    }
    usleep(2000);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace vltest
