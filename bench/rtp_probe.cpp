// The measuring receiver of the comparison (bench/compare.sh): it joins the
// streams' multicast groups beside the receiver under test and measures,
// for any sender alike, how late each packet arrives, with the kernel's
// receive timestamp (SO_TIMESTAMPNS). In the same run it measures the
// platform's floor (how late a real-time thread wakes for a 1 ms deadline)
// and the CPU time of the processes it is told about.
//
// Lateness: a packet can leave once its last frame exists, so its ideal
// arrival is the media time of its first frame plus its duration. Senders
// put the media clock at different phases (streamerd on the PTP grid,
// GStreamer wherever its pipeline started), so each stream's ideal grid is
// anchored at its earliest packet: the figures are the delay beyond the
// best a stream achieved, on the same footing for every sender.
//
//   rtp_probe --address=198.18.0.2 --streams=64 [--frame-bytes=24]
//             [--warmup=5] [--seconds=60] [--pid=send:123] [--pid=receive:456]
//
// Stream i is the group 239.69.(i / 250).(1 + i % 250), port 5004 + 2i;
// RTCP on that port is left out. The result is one JSON object on standard output.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int64_t ns_per_second = 1000000000;
constexpr int64_t rate = 48000;
constexpr size_t rtp_header = 12;
constexpr int batch = 32;

struct Options {
  std::string address;  // the probe host's link address, where the groups are joined
  int streams = 1;
  int frame_bytes = 24;  // 8 channels of L24
  int warmup = 5;
  int seconds = 60;
  std::vector<std::pair<std::string, int>> pids;
};

bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool parse(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const std::string value = arg.substr(arg.find('=') + 1);
    if (starts_with(arg, "--address=")) o->address = value;
    else if (starts_with(arg, "--streams=")) o->streams = std::stoi(value);
    else if (starts_with(arg, "--frame-bytes=")) o->frame_bytes = std::stoi(value);
    else if (starts_with(arg, "--warmup=")) o->warmup = std::stoi(value);
    else if (starts_with(arg, "--seconds=")) o->seconds = std::stoi(value);
    else if (starts_with(arg, "--pid=") && value.find(':') != std::string::npos)
      o->pids.emplace_back(value.substr(0, value.find(':')), std::stoi(value.substr(value.find(':') + 1)));
    else return false;
  }
  return !o->address.empty() && o->streams > 0 && o->frame_bytes > 0 && o->seconds > 0;
}

int64_t now_ns(clockid_t clock = CLOCK_REALTIME) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return ts.tv_sec * ns_per_second + ts.tv_nsec;
}

std::string group_of(int i) { return "239.69." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250); }

// One stream as the probe sees it.
struct Stream {
  int fd = -1;
  bool started = false;
  uint16_t highest = 0;
  int64_t first_seq = 0;  // extended
  int64_t ext_seq = 0;
  uint32_t last_ts = 0;
  int64_t ext_ts = 0;      // frames since the first packet
  int64_t received = 0;    // in the window
  int64_t seq_at_window = -1;
  uint32_t drops = 0;      // the probe's own socket overflows (SO_RXQ_OVFL)
  std::vector<int64_t> raw;      // arrival minus ideal arrival, up to a constant
  std::vector<int64_t> arrival;  // of the same packets
};

bool open_stream(Stream* s, int index, const std::string& local) {
  s->fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
  if (s->fd < 0) return false;
  const int one = 1;
  const int buffer = 4 << 20;
  setsockopt(s->fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  setsockopt(s->fd, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
  setsockopt(s->fd, SOL_SOCKET, SO_RXQ_OVFL, &one, sizeof one);
  setsockopt(s->fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(static_cast<uint16_t>(5004 + 2 * index));
  inet_pton(AF_INET, group_of(index).c_str(), &at.sin_addr);
  if (bind(s->fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) return false;
  ip_mreq join{};
  join.imr_multiaddr = at.sin_addr;
  inet_pton(AF_INET, local.c_str(), &join.imr_interface);
  return setsockopt(s->fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) == 0;
}

// The daemon's RTCP shares the session's port with its RTP: second bytes
// 192 to 223 are RTCP packet types (RFC 5761), never RTP.
bool is_rtp(const uint8_t* packet, size_t length) {
  return length > rtp_header && packet[0] >> 6 == 2 && (packet[1] < 192 || packet[1] > 223);
}

uint32_t get32(const uint8_t* p) { return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]; }

// Books one packet: sequence, media position and arrival.
void note_packet(Stream* s, const uint8_t* packet, size_t length, int64_t arrival, bool in_window, int frame_bytes) {
  const auto seq = static_cast<uint16_t>((packet[2] << 8) | packet[3]);
  const uint32_t ts = get32(packet + 4);
  if (!s->started) {
    s->started = true;
    s->highest = seq;
    s->ext_seq = s->first_seq = seq;
    s->last_ts = ts;
  }
  const auto ahead = static_cast<int16_t>(seq - s->highest);
  if (ahead > 0) {
    s->ext_seq += ahead;
    s->highest = seq;
  }
  s->ext_ts += static_cast<int32_t>(ts - s->last_ts);
  s->last_ts = ts;
  if (!in_window) return;
  if (s->seq_at_window < 0) s->seq_at_window = s->ext_seq - 1;
  ++s->received;
  const int64_t frames = static_cast<int64_t>((length - rtp_header) / static_cast<size_t>(frame_bytes));
  const int64_t ideal = (s->ext_ts + frames) * ns_per_second / rate;
  s->raw.push_back(arrival - ideal);
  s->arrival.push_back(arrival);
}

int64_t receive_time(msghdr* message) {
  for (cmsghdr* c = CMSG_FIRSTHDR(message); c; c = CMSG_NXTHDR(message, c))
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
      timespec ts;
      std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
      return ts.tv_sec * ns_per_second + ts.tv_nsec;
    }
  return 0;
}

uint32_t overflow_count(msghdr* message) {
  for (cmsghdr* c = CMSG_FIRSTHDR(message); c; c = CMSG_NXTHDR(message, c))
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
      uint32_t dropped;
      std::memcpy(&dropped, CMSG_DATA(c), sizeof dropped);
      return dropped;
    }
  return 0;
}

// Reads what is queued on one stream's socket, a few batches at most, so
// that a flooded socket cannot hold the others up.
void drain(Stream* s, bool in_window, int frame_bytes) {
  static uint8_t buffers[batch][2048];
  alignas(cmsghdr) static char controls[batch][128];
  static iovec iovs[batch];
  static mmsghdr messages[batch];
  for (int round = 0; round < 4; ++round) {
    for (int i = 0; i < batch; ++i) {
      iovs[i] = {buffers[i], sizeof buffers[i]};
      messages[i] = {};
      messages[i].msg_hdr.msg_iov = &iovs[i];
      messages[i].msg_hdr.msg_iovlen = 1;
      messages[i].msg_hdr.msg_control = controls[i];
      messages[i].msg_hdr.msg_controllen = sizeof controls[i];
    }
    const int n = recvmmsg(s->fd, messages, batch, MSG_DONTWAIT, nullptr);
    if (n <= 0) return;
    for (int i = 0; i < n; ++i) {
      const size_t length = messages[i].msg_len;
      const int64_t arrival = receive_time(&messages[i].msg_hdr);
      s->drops = std::max(s->drops, overflow_count(&messages[i].msg_hdr));
      if (is_rtp(buffers[i], length) && arrival != 0) note_packet(s, buffers[i], length, arrival, in_window, frame_bytes);
    }
    if (n < batch) return;
  }
}

// The platform's floor: a real-time thread sleeping to each whole
// millisecond of the real-time clock, and how late it wakes.
class Floor {
 public:
  void start(int64_t until) {
    thread_ = std::thread([this, until] { run(until); });
  }
  std::vector<int64_t>& join() {
    if (thread_.joinable()) thread_.join();
    return late_;
  }
  // The spans in which the thread was held back more than 1 ms past its
  // deadline (real-time clock): the platform held every thread back then.
  struct Stall {
    int64_t from, to;
  };
  const std::vector<Stall>& stalls() const { return stalls_; }

 private:
  void run(int64_t until) {
    sched_param param{};
    param.sched_priority = sched_get_priority_max(SCHED_RR);
    pthread_setschedparam(pthread_self(), SCHED_RR, &param);
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    late_.reserve(static_cast<size_t>((until - now_ns()) / 1000000 + 16));
    for (int64_t next = (now_ns() / 1000000 + 1) * 1000000; next < until; next += 1000000) {
      const timespec deadline{static_cast<time_t>(next / ns_per_second), static_cast<long>(next % ns_per_second)};
      clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &deadline, nullptr);
      const int64_t woke = now_ns();
      late_.push_back(woke - next);
      if (woke - next > 1000000) {
        stalls_.push_back({next, woke});
        next = woke / 1000000 * 1000000;  // merge missed deadlines
      }
    }
  }
  std::thread thread_;
  std::vector<int64_t> late_;
  std::vector<Stall> stalls_;
};

// A late packet is the platform's doing when a stall of the floor overlaps
// its delay.
bool in_stall(const std::vector<Floor::Stall>& stalls, int64_t arrival, int64_t late) {
  return std::any_of(stalls.begin(), stalls.end(),
                     [&](const Floor::Stall& stall) { return stall.from <= arrival && stall.to >= arrival - late; });
}

// CPU time of a process, all its threads, in nanoseconds.
int64_t process_cpu_ns(int pid) {
  const std::string dir = "/proc/" + std::to_string(pid) + "/task";
  DIR* tasks = opendir(dir.c_str());
  if (!tasks) return -1;
  int64_t total = 0;
  while (dirent* entry = readdir(tasks)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream schedstat(dir + "/" + entry->d_name + "/schedstat");
    int64_t ns = 0;
    if (schedstat >> ns) total += ns;
  }
  closedir(tasks);
  return total;
}

// Jiffies of all CPUs: busy (steal included), stolen by the hypervisor, total.
struct Jiffies {
  int64_t busy, steal, total;
};

Jiffies machine_jiffies() {
  std::ifstream stat("/proc/stat");
  std::string cpu;
  int64_t user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
  stat >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal;
  const int64_t busy = user + nice + system + irq + softirq + steal;
  return {busy, steal, busy + idle + iowait};
}

double load_average() {
  std::ifstream loadavg("/proc/loadavg");
  double one = 0;
  loadavg >> one;
  return one;
}

double percentile_us(std::vector<int64_t>& v, double p) {
  if (v.empty()) return 0;
  const size_t k = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())));
  std::nth_element(v.begin(), v.begin() + static_cast<long>(k), v.end());
  return static_cast<double>(v[k]) / 1000.0;
}

void print_percentiles(const char* name, std::vector<int64_t>& v) {
  const double max = v.empty() ? 0 : static_cast<double>(*std::max_element(v.begin(), v.end())) / 1000.0;
  std::printf("\"%s\": {\"p50\": %.1f, \"p99\": %.1f, \"p999\": %.1f, \"max\": %.1f, \"count\": %zu}", name,
              percentile_us(v, 0.50), percentile_us(v, 0.99), percentile_us(v, 0.999), max, v.size());
}

}  // namespace

// Above every normally scheduled thread, so that a loaded machine cannot
// starve the measurement (kernel timestamps keep it exact anyway, but the
// sockets would overflow), and below the real-time threads of the systems
// measured.
void raise_priority() {
  sched_param param{};
  param.sched_priority = sched_get_priority_min(SCHED_RR);
  pthread_setschedparam(pthread_self(), SCHED_RR, &param);
}

int main(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, &o)) {
    std::fprintf(stderr,
                 "usage: rtp_probe --address=A --streams=N [--frame-bytes=24] [--warmup=5] [--seconds=60] "
                 "[--pid=label:pid]...\n");
    return 2;
  }
  raise_priority();
  std::vector<Stream> streams(static_cast<size_t>(o.streams));
  const int epoll = epoll_create1(0);
  for (int i = 0; i < o.streams; ++i) {
    Stream& s = streams[static_cast<size_t>(i)];
    if (!open_stream(&s, i, o.address)) {
      std::fprintf(stderr, "rtp_probe: stream %d: %s\n", i, std::strerror(errno));
      return 1;
    }
    s.raw.reserve(static_cast<size_t>(o.seconds) * 1000 + 1024);
    s.arrival.reserve(s.raw.capacity());
    epoll_event event{EPOLLIN, {.u32 = static_cast<uint32_t>(i)}};
    epoll_ctl(epoll, EPOLL_CTL_ADD, s.fd, &event);
  }
  const int64_t window_start = now_ns() + static_cast<int64_t>(o.warmup) * ns_per_second;
  const int64_t window_end = window_start + static_cast<int64_t>(o.seconds) * ns_per_second;
  Floor floor;
  bool measuring = false;
  std::vector<int64_t> cpu_start(o.pids.size());
  Jiffies jiffies_start{};
  double load = 0;
  epoll_event ready[64];
  for (int64_t now = now_ns(); now < window_end; now = now_ns()) {
    if (!measuring && now >= window_start) {
      measuring = true;
      for (size_t p = 0; p < o.pids.size(); ++p) cpu_start[p] = process_cpu_ns(o.pids[p].second);
      jiffies_start = machine_jiffies();
      load = load_average();
      floor.start(window_end);
    }
    const int n = epoll_wait(epoll, ready, 64, 100);
    for (int i = 0; i < n; ++i) drain(&streams[ready[i].data.u32], measuring, o.frame_bytes);
  }
  const int64_t elapsed = now_ns() - window_start;
  std::vector<double> cpu(o.pids.size());
  for (size_t p = 0; p < o.pids.size(); ++p)
    cpu[p] = static_cast<double>(process_cpu_ns(o.pids[p].second) - cpu_start[p]) / static_cast<double>(elapsed);
  const auto jiffies_end = machine_jiffies();
  std::vector<int64_t>& floor_late = floor.join();

  // Each stream's grid is anchored at its earliest packet. Packets later
  // than 2 ms are counted, those of them that no stall of the floor
  // explains, and the 100 ms spells in which they came.
  std::vector<int64_t> lateness;
  std::vector<int64_t> late_spells;
  int64_t late_2ms = 0, late_2ms_floor_on_time = 0;
  int64_t received = 0, expected = 0, drops = 0;
  double worst_stream_p999 = 0;
  for (Stream& s : streams) {
    received += s.received;
    drops += s.drops;
    if (s.seq_at_window >= 0) expected += s.ext_seq - s.seq_at_window;
    if (s.raw.empty()) continue;
    const int64_t anchor = *std::min_element(s.raw.begin(), s.raw.end());
    for (size_t i = 0; i < s.raw.size(); ++i) {
      s.raw[i] -= anchor;
      if (s.raw[i] <= 2000000) continue;
      ++late_2ms;
      if (!in_stall(floor.stalls(), s.arrival[i], s.raw[i])) ++late_2ms_floor_on_time;
      late_spells.push_back((s.arrival[i] - window_start) / 100000000);
    }
    lateness.insert(lateness.end(), s.raw.begin(), s.raw.end());
    worst_stream_p999 = std::max(worst_stream_p999, percentile_us(s.raw, 0.999));
  }
  const double total = static_cast<double>(std::max<int64_t>(1, jiffies_end.total - jiffies_start.total));
  const double busy = static_cast<double>(jiffies_end.busy - jiffies_start.busy) / total;
  const double steal = static_cast<double>(jiffies_end.steal - jiffies_start.steal) / total;
  std::printf("{\"streams\": %d, \"seconds\": %.3f, \"received\": %" PRId64 ", \"expected\": %" PRId64
              ", \"lost\": %" PRId64 ", \"probe_drops\": %" PRId64 ", \"silent_streams\": %d, ",
              o.streams, static_cast<double>(elapsed) / 1e9, received, expected, std::max<int64_t>(0, expected - received),
              drops, static_cast<int>(std::count_if(streams.begin(), streams.end(), [](const Stream& s) {
                return s.received == 0;
              })));
  print_percentiles("lateness_us", lateness);
  std::sort(late_spells.begin(), late_spells.end());
  const auto spells = std::unique(late_spells.begin(), late_spells.end()) - late_spells.begin();
  std::printf(", \"worst_stream_p999_us\": %.1f, \"late_2ms\": %" PRId64 ", \"late_2ms_floor_on_time\": %" PRId64
              ", \"late_spells\": %ld, ",
              worst_stream_p999, late_2ms, late_2ms_floor_on_time, static_cast<long>(spells));
  print_percentiles("floor_us", floor_late);
  std::printf(", \"cpu\": {");
  for (size_t p = 0; p < o.pids.size(); ++p)
    std::printf("%s\"%s\": %.5f", p ? ", " : "", o.pids[p].first.c_str(), cpu[p]);
  std::printf("}, \"machine_busy\": %.3f, \"machine_steal\": %.3f, \"loadavg\": %.2f}\n", busy, steal, load);
  return 0;
}
