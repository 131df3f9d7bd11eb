#include "vltest/rtp_lab.h"

#include "vl/vl_ptp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <random>

namespace rtp_lab {
namespace {

constexpr uint32_t device_block = 1024;
constexpr vl_rational rate = {48000, 1};

vl_host_iface lab_iface(vltest::NetLab::Host host) {
  vl_host_iface iface{};
  std::strncpy(iface.name, vltest::NetLab::link_device[host], sizeof iface.name);
  inet_pton(AF_INET, vltest::NetLab::link_address[host], &iface.addr);
  iface.mask = htonl(0xFFFFFF00);
  return iface;
}

VlChannelMapPtr map_of(uint32_t channels, int32_t first, int32_t rest) {
  std::vector<int32_t> entries(channels, rest);
  entries[0] = first;
  return VlChannelMapPtr(vl_channel_map_ctor(entries.data(), entries.size()));
}

int udp_socket() { return socket(AF_INET, SOCK_DGRAM, 0); }

sockaddr_in address_of(const std::string& ip, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
  return a;
}

}  // namespace

std::string stream_sdp(const StreamOptions& o, const std::string& group, uint16_t port, const std::string& name) {
  std::string sdp = "v=0\no=- 1 1 IN IP4 198.18.0.1\ns=" + name + "\nt=0 0\n";
  sdp += "a=clock-domain:PTPv2 0\n";
  sdp += "m=audio " + std::to_string(port) + " RTP/AVP 98\n";
  sdp += "c=IN IP4 " + group + "/32\n";
  sdp += "a=rtpmap:98 " + o.format + "/48000/" + std::to_string(o.channels) + "\n";
  if (o.synchronized) sdp += "a=sync-time:" + std::to_string(o.sync_time) + "\n";
  sdp += "a=framecount:" + std::to_string(o.frames_per_packet) + "\n";
  return sdp;
}

Lab::Lab() {
  if (!lab_.ok()) return;
  ifaces_[vltest::NetLab::A] = lab_iface(vltest::NetLab::A);
  ifaces_[vltest::NetLab::B] = lab_iface(vltest::NetLab::B);
  vl_ptp_init();
  vl_posix_ptp_init();
  lab_.run_in(vltest::NetLab::A, [this] { sender_ = vl_rtp_sw_send_init(); });
  lab_.run_in(vltest::NetLab::B, [this] { receiver_ = vl_rtp_sw_recv_init(); });
  ok_ = sender_ && receiver_;
}

Lab::~Lab() {
  for (auto& s : streams_) {
    remove_sender(s.get());
    remove_receiver(s.get());
  }
  destroy_managers();
  for (auto& s : streams_) {
    if (s->generator != shared_generator_) vl_object_delete(s->generator);
    vl_object_delete(s->analyzer);
  }
  vl_object_delete(shared_generator_);
  vl_posix_ptp_exit();
  vl_ptp_exit();
}

Stream* Lab::add(const StreamOptions& options) {
  auto stream = std::make_unique<Stream>();
  Stream* s = stream.get();
  const int n = static_cast<int>(streams_.size());
  s->options = options;
  s->group = "239.77.0." + std::to_string(10 + n);
  s->port = static_cast<uint16_t>(5004 + 2 * n);
  s->sdp = stream_sdp(options, s->group, s->port, "Lab stream " + std::to_string(n));
  if (options.shared_capture && !shared_generator_)
    shared_generator_ = vl_generator_ramp_ctor(rate, device_block, nullptr);
  s->generator = options.shared_capture ? shared_generator_ : vl_generator_ramp_ctor(rate, device_block, nullptr);
  s->analyzer = vl_analyzer_ramp_ctor(rate, device_block, nullptr);
  streams_.push_back(std::move(stream));
  if (!s->generator || !s->analyzer) return nullptr;
  lab_.run_in(vltest::NetLab::B, [&] {
    s->receiver = vl_recvmgr_add_stream(receiver_, &ifaces_[vltest::NetLab::B], s->sdp.c_str(),
                                        vl_mediadrv_audio_play_ifc(s->analyzer), options.delay);
  });
  if (!s->receiver) return nullptr;
  VlChannelMapPtr play_map = map_of(options.channels, 0, -1);
  vl_recvmgr_set_channel_map(receiver_, s->receiver, play_map.get());
  return add_sender(s, s->sdp) ? s : nullptr;
}

bool Lab::add_sender(Stream* s, const std::string& sdp) {
  lab_.run_in(vltest::NetLab::A, [&] {
    s->sender = vl_sendmgr_add_stream(sender_, &ifaces_[vltest::NetLab::A], sdp.c_str(),
                                      vl_mediadrv_audio_capture_ifc(s->generator), ssrc, s->options.first_seqno,
                                      s->options.frames_per_packet, s->options.dscp);
  });
  if (!s->sender) return false;
  VlChannelMapPtr capture_map = map_of(s->options.channels, 0, 0);
  vl_sendmgr_set_channel_map(sender_, s->sender, capture_map.get());
  return true;
}

void Lab::destroy_managers() {
  if (sender_) vl_rtp_sw_send_done(sender_);
  if (receiver_) vl_rtp_sw_recv_done(receiver_);
  sender_ = nullptr;
  receiver_ = nullptr;
  for (auto& s : streams_) s->sender = s->receiver = nullptr;
}

void Lab::remove_sender(Stream* s) {
  if (s->sender) vl_sendmgr_remove_stream(sender_, s->sender);
  s->sender = nullptr;
}

void Lab::remove_receiver(Stream* s) {
  if (s->receiver) vl_recvmgr_remove_stream(receiver_, s->receiver);
  s->receiver = nullptr;
}

WireTap::WireTap(const vltest::NetLab& lab, const std::string& group, uint16_t port) {
  lab.run_in(vltest::NetLab::B, [&] {
    fd_ = udp_socket();
    const int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in at = address_of(group, port);
    bind(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at);
    ip_mreq join{};
    inet_pton(AF_INET, group.c_str(), &join.imr_multiaddr);
    inet_pton(AF_INET, vltest::NetLab::link_address[vltest::NetLab::B], &join.imr_interface);
    setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join);
  });
}

WireTap::~WireTap() {
  if (fd_ >= 0) close(fd_);
}

std::vector<uint8_t> WireTap::next(int timeout_ms) {
  pollfd pfd{fd_, POLLIN, 0};
  if (poll(&pfd, 1, timeout_ms) <= 0) return {};
  std::vector<uint8_t> datagram(9216);
  const ssize_t n = recv(fd_, datagram.data(), datagram.size(), 0);
  datagram.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return datagram;
}

ImpairingRelay::ImpairingRelay(const vltest::NetLab& lab, const std::string& group, uint16_t port, Odds odds,
                               uint32_t seed)
    : odds_(odds), seed_(seed) {
  lab.run_in(vltest::NetLab::A, [&] {
    in_fd_ = udp_socket();
    sockaddr_in at = address_of("127.0.0.1", port);
    bind(in_fd_, reinterpret_cast<sockaddr*>(&at), sizeof at);
    out_fd_ = udp_socket();
    in_addr via{};
    inet_pton(AF_INET, vltest::NetLab::link_address[vltest::NetLab::A], &via);
    setsockopt(out_fd_, IPPROTO_IP, IP_MULTICAST_IF, &via, sizeof via);
    sockaddr_in to = address_of(group, port);
    connect(out_fd_, reinterpret_cast<sockaddr*>(&to), sizeof to);
  });
  stop_fd_ = eventfd(0, EFD_CLOEXEC);
  thread_ = std::thread([this] { run(); });
}

ImpairingRelay::~ImpairingRelay() {
  const uint64_t one = 1;
  (void)!write(stop_fd_, &one, sizeof one);
  thread_.join();
  close(in_fd_);
  close(out_fd_);
  close(stop_fd_);
}

// A held packet goes out behind the next one, or after 2 ms at the latest.
void ImpairingRelay::run() {
  std::mt19937 random(seed_);
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  std::vector<uint8_t> held;
  std::vector<uint8_t> datagram(9216);
  pollfd fds[2] = {{in_fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
  auto send_out = [this](const std::vector<uint8_t>& d) {
    (void)!send(out_fd_, d.data(), d.size(), 0);
    ++forwarded_;
  };
  for (;;) {
    const int ready = poll(fds, 2, held.empty() ? -1 : 2);
    if (fds[1].revents) return;
    if (ready == 0 && !held.empty()) {
      send_out(held);
      held.clear();
      continue;
    }
    if (!(fds[0].revents & POLLIN)) continue;
    const ssize_t n = recv(in_fd_, datagram.data(), datagram.size(), 0);
    if (n <= 0) continue;
    const std::vector<uint8_t> packet(datagram.begin(), datagram.begin() + n);
    const double roll = chance(random);
    if (roll < odds_.loss) {
      ++dropped_;
    } else if (roll < odds_.loss + odds_.reorder && held.empty()) {
      held = packet;
      ++reordered_;
      continue;
    } else {
      send_out(packet);
      if (roll < odds_.loss + odds_.reorder + odds_.duplicate) {
        send_out(packet);
        ++duplicated_;
      }
    }
    if (!held.empty()) {
      send_out(held);
      held.clear();
    }
  }
}

}  // namespace rtp_lab
