// Send lateness and CPU cost per packet of the software RTP engine between
// two lab hosts (needs root: it builds network namespaces).
//
// Both lab hosts share the machine's clock, so the kernel receive time of a
// packet minus the PTP time of its first frame is the true lateness. A
// packet can leave only once its last frame is captured, so the figures
// given are measured from there: receive time - (first frame + duration).
//
// Each stream count runs twice: with a ramp generator of its own for every
// stream (one timer thread each), and with all streams on one shared
// generator (one timer thread sends them all, as from one sound card).
//
//   rtp_lateness_lab_bench [--seconds=60] [--streams=1,16,64]
#include "rtp_sw/vl_rtp_packet.h"
#include "vlsys/vl_log.h"
#include "vlsys/vl_time.h"
#include "vltest/log_capture.h"
#include "vltest/rtp_lab.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr vl_rational rate = {48000, 1};
constexpr uint32_t frames_per_packet = 48;
constexpr int64_t packet_ns = 1000000;

struct Options {
  int seconds = 60;
  std::vector<int> stream_counts = {1, 16, 64};
};

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--seconds=", 0) == 0) o.seconds = std::stoi(arg.substr(10));
    if (arg.rfind("--streams=", 0) == 0) {
      o.stream_counts.clear();
      std::stringstream list(arg.substr(10));
      for (std::string item; std::getline(list, item, ',');) o.stream_counts.push_back(std::stoi(item));
    }
  }
  return o;
}

// Nanoseconds each named thread of this process spent on a CPU.
std::map<std::string, uint64_t> thread_cpu_ns() {
  std::map<std::string, uint64_t> by_name;
  DIR* tasks = opendir("/proc/self/task");
  if (!tasks) return by_name;
  while (dirent* entry = readdir(tasks)) {
    if (entry->d_name[0] == '.') continue;
    const std::string dir = std::string("/proc/self/task/") + entry->d_name;
    std::ifstream comm(dir + "/comm");
    std::ifstream schedstat(dir + "/schedstat");
    std::string name;
    uint64_t ns = 0;
    if (std::getline(comm, name) && (schedstat >> ns)) by_name[name] += ns;
  }
  closedir(tasks);
  return by_name;
}

// Kernel receive times of every stream's packets, taken in host B.
class LatenessTap {
 public:
  LatenessTap(const vltest::NetLab& lab, const std::vector<rtp_lab::Stream*>& streams) {
    lab.run_in(vltest::NetLab::B, [&] {
      for (const rtp_lab::Stream* s : streams) open(s->group, s->port, s->options.sync_time);
    });
    samples_.reserve(streams.size() * 70000);
  }
  ~LatenessTap() {
    stop();
    for (const pollfd& p : fds_) close(p.fd);
  }
  void start() {
    thread_ = std::thread([this] { run(); });
  }
  void stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
  }
  std::vector<int64_t>& samples() { return samples_; }

 private:
  void open(const std::string& group, uint16_t port, uint32_t sync) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    inet_pton(AF_INET, group.c_str(), &at.sin_addr);
    bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
    ip_mreq join{};
    join.imr_multiaddr = at.sin_addr;
    inet_pton(AF_INET, vltest::NetLab::link_address[vltest::NetLab::B], &join.imr_interface);
    setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join);
    fds_.push_back({fd, POLLIN, 0});
    syncs_.push_back(sync);
  }

  void run() {
    uint8_t datagram[9216];
    alignas(cmsghdr) char control[256];
    while (!stopping_) {
      if (poll(fds_.data(), fds_.size(), 100) <= 0) continue;
      for (size_t i = 0; i < fds_.size(); ++i) {
        if (!(fds_[i].revents & POLLIN)) continue;
        iovec iov{datagram, sizeof datagram};
        msghdr message{};
        message.msg_iov = &iov;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = recvmsg(fds_[i].fd, &message, MSG_DONTWAIT);
        if (n < static_cast<ssize_t>(vl_rtp_header_size)) continue;
        uint64_t received = 0;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c))
          if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec ts;
            std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
            received = static_cast<uint64_t>(ts.tv_sec) * vl_ns_per_second + static_cast<uint64_t>(ts.tv_nsec);
          }
        if (received == 0) continue;
        const uint32_t first_frame = vl_rtp_timestamp(datagram) - syncs_[i];
        const uint64_t captured = vl_time_ts2ns(first_frame, rate, received - vl_ns_per_second);
        samples_.push_back(static_cast<int64_t>(received - captured) - packet_ns);
      }
    }
  }

  std::vector<pollfd> fds_;
  std::vector<uint32_t> syncs_;
  std::vector<int64_t> samples_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

double percentile_us(std::vector<int64_t>& v, double p);

// The platform's floor: how late a thread wakes for an absolute 1 ms
// deadline on the real-time clock, with nothing else to do.
void measure_wake_latency(int seconds) {
  std::vector<int64_t> late;
  late.reserve(static_cast<size_t>(seconds) * 1000);
  uint64_t next = (vl_realtime_ns() / packet_ns + 1) * packet_ns;
  for (int i = 0; i < seconds * 1000; ++i, next += packet_ns) {
    const timespec deadline{static_cast<time_t>(next / vl_ns_per_second), static_cast<long>(next % vl_ns_per_second)};
    clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &deadline, nullptr);
    late.push_back(static_cast<int64_t>(vl_realtime_ns() - next));
  }
  std::printf("platform  wake latency of a 1 ms timer thread: p50 %7.1f us  p99 %7.1f us  p99.9 %7.1f us\n",
              percentile_us(late, 0.50), percentile_us(late, 0.99), percentile_us(late, 0.999));
}

double percentile_us(std::vector<int64_t>& v, double p) {
  if (v.empty()) return 0;
  const size_t k = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())));
  std::nth_element(v.begin(), v.begin() + static_cast<long>(k), v.end());
  return static_cast<double>(v[k]) / 1000.0;
}

void measure(int count, int seconds, bool shared) {
  vltest::LogCapture log;
  rtp_lab::Lab lab;
  if (!lab.ok()) {
    std::fprintf(stderr, "no lab: %s\n", lab.net().error().c_str());
    return;
  }
  std::vector<rtp_lab::Stream*> streams;
  for (int i = 0; i < count; ++i) {
    rtp_lab::StreamOptions o;
    o.format = "L24";
    o.channels = 8;
    o.frames_per_packet = frames_per_packet;
    o.sync_time = 1000u * static_cast<uint32_t>(i);
    o.delay = 480;
    o.shared_capture = shared;
    rtp_lab::Stream* s = lab.add(o);
    if (!s) {
      std::fprintf(stderr, "stream %d refused\n", i);
      return;
    }
    streams.push_back(s);
  }
  LatenessTap tap(lab.net(), streams);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const auto cpu_before = thread_cpu_ns();
  uint32_t sent_before = 0;
  for (rtp_lab::Stream* s : streams) {
    VlSenderInfo info{};
    vl_sendmgr_get_sender_info(lab.sender(), s->sender, &info);
    sent_before += info.psend;
  }
  log.clear();
  tap.start();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  tap.stop();
  const auto cpu_after = thread_cpu_ns();
  uint32_t sent = 0;
  for (rtp_lab::Stream* s : streams) {
    VlSenderInfo info{};
    vl_sendmgr_get_sender_info(lab.sender(), s->sender, &info);
    sent += info.psend;
  }
  sent -= sent_before;
  auto cpu = [&](const char* name) {
    const auto a = cpu_after.find(name);
    const auto b = cpu_before.find(name);
    return (a == cpu_after.end() ? 0 : a->second) - (b == cpu_before.end() ? 0 : b->second);
  };
  std::vector<int64_t>& lateness = tap.samples();
  const size_t received = lateness.size();
  const double send_ns = sent ? static_cast<double>(cpu("timer callback ")) / sent : 0;
  const double recv_ns = received ? static_cast<double>(cpu("select_reactor")) / static_cast<double>(received) : 0;
  const double max_us = lateness.empty() ? 0 : static_cast<double>(*std::max_element(lateness.begin(), lateness.end())) / 1000.0;
  std::printf("%-9s %3d streams  %8zu packets  lateness p50 %7.1f us  p99 %7.1f us  p99.9 %7.1f us  max %8.1f us  "
              "send %6.0f ns/packet  receive %6.0f ns/packet  timeslots missed %d\n",
              shared ? "shared" : "separate", count, received, percentile_us(lateness, 0.50), percentile_us(lateness, 0.99),
              percentile_us(lateness, 0.999), max_us, send_ns, recv_ns, log.count("timeslot missed"));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parse(argc, argv);
  if (geteuid() != 0) {
    std::fprintf(stderr, "rtp_lateness_lab_bench builds network namespaces and must run as root\n");
    return 1;
  }
  vl_log_init("rtp_lateness_lab_bench");
  vl_log_priority_set(nullptr, VL_LOG_WARN);
  measure_wake_latency(std::min(options.seconds, 10));
  std::printf("8-channel L24 streams of 48 frames (1 ms); lateness after the packet's last frame was captured\n");
  for (const bool shared : {false, true})
    for (int count : options.stream_counts) measure(count, options.seconds, shared);
  vl_log_exit();
  return 0;
}
