// Sends or receives N streams through the RTP engine directly, the way the
// daemon does but without its control path: ramp generators as capture
// devices (one shared by all streams, or one per stream), ramp analyzers as
// play devices. bench/compare.sh runs it inside a network lab; it refuses to
// run anywhere else. It streams until SIGINT or
// SIGTERM.
//
//   engine_streams --send|--receive --address=198.18.0.1 --interface=veth0
//                  --streams=N [--frames=48] [--channels=8] [--per-stream]
//
// Stream i is the group 239.69.(i / 250).(1 + i % 250), port 5004 + 2i, as
// rtp_probe expects.
#include "generator_analyzer/analyzer_ramp.h"
#include "generator_analyzer/generator_ramp.h"
#include "rtp_sw/vl_rtpsw_recv.h"
#include "rtp_sw/vl_rtpsw_send.h"
#include "vl/vl_channel_map.h"
#include "vl/vl_posix_ptp.h"
#include "vlsys/vl_log.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr vl_rational rate = {48000, 1};
constexpr uint32_t device_block = 1024;
constexpr int32_t delay_frames = 480;

struct Options {
  bool send = false;
  bool receive = false;
  std::string address;
  std::string interface;
  int streams = 1;
  uint32_t frames = 48;
  uint32_t channels = 8;
  bool per_stream = false;
};

bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool parse(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const std::string value = arg.substr(arg.find('=') + 1);
    if (arg == "--send") o->send = true;
    else if (arg == "--receive") o->receive = true;
    else if (arg == "--per-stream") o->per_stream = true;
    else if (starts_with(arg, "--address=")) o->address = value;
    else if (starts_with(arg, "--interface=")) o->interface = value;
    else if (starts_with(arg, "--streams=")) o->streams = std::stoi(value);
    else if (starts_with(arg, "--frames=")) o->frames = static_cast<uint32_t>(std::stoul(value));
    else if (starts_with(arg, "--channels=")) o->channels = static_cast<uint32_t>(std::stoul(value));
    else return false;
  }
  return o->send != o->receive && !o->address.empty() && !o->interface.empty() && o->streams > 0 &&
         o->channels > 0;
}

// Packets must never leave through the machine's own interfaces: the
// process must be in a namespace of a network lab ("vlt-...", made by
// tests/support/netlab.sh or vltest::NetLab).
bool in_lab_namespace() {
  struct stat mine{};
  if (stat("/proc/self/ns/net", &mine) != 0) return false;
  DIR* named = opendir("/run/netns");
  if (!named) return false;
  bool found = false;
  while (dirent* entry = readdir(named)) {
    struct stat ns{};
    const std::string path = std::string("/run/netns/") + entry->d_name;
    if (std::strncmp(entry->d_name, "vlt-", 4) == 0 && stat(path.c_str(), &ns) == 0 && ns.st_ino == mine.st_ino &&
        ns.st_dev == mine.st_dev)
      found = true;
  }
  closedir(named);
  return found;
}

std::string group_of(int i) { return "239.69." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250); }

std::string sdp_of(const Options& o, int i) {
  const double ptime_ms = 1000.0 * o.frames / rate.nom;
  char ptime[32];
  std::snprintf(ptime, sizeof ptime, "%g", ptime_ms);
  return "v=0\no=- " + std::to_string(i + 1) + " 1 IN IP4 " + o.address + "\ns=engine stream " + std::to_string(i) +
         "\nt=0 0\na=clock-domain:PTPv2 0\nm=audio " + std::to_string(5004 + 2 * i) + " RTP/AVP 98\nc=IN IP4 " +
         group_of(i) + "/32\na=rtpmap:98 L24/48000/" + std::to_string(o.channels) + "\na=sync-time:0\na=framecount:" +
         std::to_string(o.frames) + "\na=ptime:" + ptime + "\n";
}

vl_host_iface iface_of(const Options& o) {
  vl_host_iface iface{};
  std::strncpy(iface.name, o.interface.c_str(), sizeof iface.name - 1);
  inet_pton(AF_INET, o.address.c_str(), &iface.addr);
  iface.mask = htonl(0xFFFFFF00);
  return iface;
}

VlChannelMapPtr map_of(uint32_t channels, int32_t first, int32_t rest) {
  std::vector<int32_t> entries(channels, rest);
  entries[0] = first;
  return VlChannelMapPtr(vl_channel_map_ctor(entries.data(), entries.size()));
}

sigset_t stop_signals() {
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  return stop;
}

void wait_for_stop() {
  const sigset_t stop = stop_signals();
  int signal = 0;
  sigwait(&stop, &signal);
}

template <typename Device>
struct DeviceDeleter {
  void operator()(Device* d) const { vl_object_delete(d); }
};
template <typename Device>
using DevicePtr = std::unique_ptr<Device, DeviceDeleter<Device>>;

int run_sender(const Options& o, const vl_host_iface& iface) {
  VlSendmgr* manager = vl_rtp_sw_send_init();
  std::vector<DevicePtr<VlGeneratorRamp>> generators;
  std::vector<VlStreamHandle> handles;
  const VlChannelMapPtr map = map_of(o.channels, 0, 0);
  for (int i = 0; i < o.streams && manager; ++i) {
    if (generators.empty() || o.per_stream) generators.emplace_back(vl_generator_ramp_ctor(rate, device_block, nullptr));
    if (!generators.back()) break;
    const std::string sdp = sdp_of(o, i);
    VlStreamHandle h = vl_sendmgr_add_stream(manager, &iface, sdp.c_str(),
                                             vl_mediadrv_audio_capture_ifc(generators.back().get()),
                                             0x5EED0000u + static_cast<uint32_t>(i), 1, o.frames, 34);
    if (!h) {
      std::fprintf(stderr, "engine_streams: stream %d refused\n", i);
      break;
    }
    vl_sendmgr_set_channel_map(manager, h, map.get());
    handles.push_back(h);
  }
  const bool complete = manager && handles.size() == static_cast<size_t>(o.streams);
  if (complete) {
    std::printf("sending %d streams\n", o.streams);
    std::fflush(stdout);
    wait_for_stop();
  }
  for (VlStreamHandle h : handles) vl_sendmgr_remove_stream(manager, h);
  if (manager) vl_rtp_sw_send_done(manager);
  return complete ? 0 : 1;
}

int run_receiver(const Options& o, const vl_host_iface& iface) {
  VlRecvmgr* manager = vl_rtp_sw_recv_init();
  std::vector<DevicePtr<VlAnalyzerRamp>> analyzers;
  std::vector<VlStreamHandle> handles;
  const VlChannelMapPtr map = map_of(o.channels, 0, -1);
  for (int i = 0; i < o.streams && manager; ++i) {
    if (analyzers.empty() || o.per_stream) analyzers.emplace_back(vl_analyzer_ramp_ctor(rate, device_block, nullptr));
    if (!analyzers.back()) break;
    const std::string sdp = sdp_of(o, i);
    VlStreamHandle h = vl_recvmgr_add_stream(manager, &iface, sdp.c_str(),
                                             vl_mediadrv_audio_play_ifc(analyzers.back().get()), delay_frames);
    if (!h) {
      std::fprintf(stderr, "engine_streams: stream %d refused\n", i);
      break;
    }
    vl_recvmgr_set_channel_map(manager, h, map.get());
    handles.push_back(h);
  }
  const bool complete = manager && handles.size() == static_cast<size_t>(o.streams);
  if (complete) {
    std::printf("receiving %d streams\n", o.streams);
    std::fflush(stdout);
    wait_for_stop();
  }
  for (VlStreamHandle h : handles) vl_recvmgr_remove_stream(manager, h);
  if (manager) vl_rtp_sw_recv_done(manager);
  return complete ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, &o)) {
    std::fprintf(stderr,
                 "usage: engine_streams --send|--receive --address=A --interface=I --streams=N [--frames=48] "
                 "[--channels=8] [--per-stream]\n");
    return 2;
  }
  if (!in_lab_namespace()) {
    std::fprintf(stderr, "engine_streams: run it inside a network lab (bench/compare.sh), never on the host\n");
    return 1;
  }
  // Blocked before any thread starts, so that only sigwait takes them.
  const sigset_t stop = stop_signals();
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  vl_log_init("engine_streams");
  vl_log_priority_set(nullptr, VL_LOG_WARN);
  vl_ptp_init();
  vl_posix_ptp_init();
  const vl_host_iface iface = iface_of(o);
  const int status = o.send ? run_sender(o, iface) : run_receiver(o, iface);
  vl_posix_ptp_exit();
  vl_ptp_exit();
  vl_log_exit();
  return status;
}
