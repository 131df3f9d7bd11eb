// The network test lab: two network namespaces ("hosts" A and B) joined by a
// veth pair, so that tests which send or receive packets never touch the
// machine's own interfaces. Needs root.
//
//   vltest::NetLab lab;                       // A: veth0 198.18.0.1/24, B: veth1 198.18.0.2/24
//   ASSERT_TRUE(lab.ok()) << lab.error();
//   lab.run_in(vltest::NetLab::A, [&] { ... sockets made here live in A ... });
//   vltest::run_process(lab.command(vltest::NetLab::B, {"/bin/true"}), 5s);
//
// Everything the lab created is removed by its destructor; namespaces left by
// a lab whose process died are removed by the next lab that starts.
#pragma once

#include "vltest/process.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace vltest {

class NetLab {
 public:
  enum Host { A = 0, B = 1 };

  // Addresses of the first link (prefix length 24) and of the second one.
  static constexpr const char* link_address[2] = {"198.18.0.1", "198.18.0.2"};
  static constexpr const char* link_device[2] = {"veth0", "veth1"};
  static constexpr const char* second_link_address[2] = {"198.18.1.1", "198.18.1.2"};
  static constexpr const char* second_link_device[2] = {"veth2", "veth3"};
  static constexpr std::array<uint8_t, 6> link_mac[2] = {{{0x02, 0x76, 0x6c, 0x00, 0x00, 0x01}},
                                                         {{0x02, 0x76, 0x6c, 0x00, 0x00, 0x02}}};
  static constexpr const char* multicast_route = "224.0.0.0/4";

  enum FirstLink { with_first_link, without_first_link };

  // Builds both hosts (loopback up) and, unless told otherwise, the first
  // link. Check ok() before use.
  explicit NetLab(FirstLink first_link = with_first_link);
  ~NetLab();
  NetLab(const NetLab&) = delete;
  NetLab& operator=(const NetLab&) = delete;

  bool ok() const { return ok_; }
  // What went wrong while building or changing the lab.
  const std::string& error() const { return error_; }

  // Namespace name as `ip netns` knows it.
  const std::string& name(Host host) const { return names_[host]; }

  // A second veth pair, veth2 (A) and veth3 (B), on 198.18.1.0/24.
  bool add_second_link();
  // A veth link named `device` in `host` (up; with `address`, such as
  // "10.1.0.1/24", unless empty; with `mac`, "02:00:...", unless empty), its
  // peer "p<device>" down in the other host. Links appear in a host's
  // interface list in the order they were added.
  bool add_link(Host host, const std::string& device, const std::string& address, const std::string& mac = "");
  // `ip -n <host> <args...>`; false (and error()) when it fails.
  bool ip(Host host, const std::vector<std::string>& args);
  // A `tc netem` qdisc on `device`, e.g. {"loss", "10%", "delay", "5ms"}.
  // False when the kernel has no netem (callers skip their test then).
  bool add_netem(Host host, const std::string& device, const std::vector<std::string>& netem_args);

  // Runs `fn` on a thread that joined the host's namespace and waits for
  // it. Sockets made there belong to that namespace for their whole life.
  void run_in(Host host, const std::function<void()>& fn) const;
  // The same without waiting: the caller joins the thread.
  std::thread start_in(Host host, std::function<void()> fn) const;
  // Runs `fn` in a forked child whose only thread joined the namespace (so
  // /proc/self/net is the lab's too); returns its result, -1 on failure or
  // time-out. `fn` must not use GoogleTest assertions.
  int run_child_in(Host host, const std::function<int()>& fn,
                   std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
  // argv that runs `argv` inside the host's namespace through `ip netns
  // exec`, for vltest::Process and run_process.
  std::vector<std::string> command(Host host, const std::vector<std::string>& argv) const;

  // Removes lab namespaces whose creating process no longer runs.
  static void remove_stale();

 private:
  bool build(FirstLink first_link);
  bool run_ip(const std::vector<std::string>& args);
  bool join(Host host) const;

  std::array<std::string, 2> names_;
  std::array<bool, 2> created_ = {false, false};
  std::array<uint64_t, 2> inodes_ = {0, 0};
  bool ok_ = false;
  std::string error_;
};

// True when the calling thread's network namespace is one that a live lab of
// this process created.
bool in_lab_namespace();
// Ends the process with a loud message unless in_lab_namespace(): a packet
// test must never run on the host's own interfaces.
void require_lab_namespace();

// Runs `fn` in a forked child and returns its exit status (-1 when it was
// killed or did not end within `timeout`).
int run_in_child(const std::function<int()>& fn, std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Full path of the `ip` program, and of the shell form of this lab.
const std::string& ip_program();
std::string netlab_script();

}  // namespace vltest
