// RTP datagrams as anyone who reaches a stream's group can send them: the
// header parser, then the software receiver's packet handling (checks,
// sequence statistics, timing, decoding) into a ring driver's play ring.
//
// Input: a stream byte (bits 0-1 the encoding L16, L24, L32, AM824; bits 2-3
// the channel count 1, 2, 6, 8; bit 4 a sync time; bit 5 a channel map from
// the input), a delay byte (signed, times 16 frames), with bit 5 one map
// byte per channel, then datagrams, each as a 16-bit big-endian length, a
// byte of play clock advance (times 8 frames) and the datagram.
#include "fuzz_support.h"

#include "rtp_sw/vl_rtp_packet.h"
#include "rtp_sw/vl_rtpsw_recv.h"
#include "rtp_test_support.h"
#include "vl/vl_channel_map.h"
#include "vlcodec/vl_dec.h"
#include "vltest/ring_driver.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint32_t play_channels = 8;
constexpr uint32_t now = 96000;
constexpr const char* encodings[] = {"L16", "L24", "L32", "AM824"};
constexpr uint32_t channel_counts[] = {1, 2, 6, 8};

VlRecvmgr* manager = nullptr;
vltest::RingDriver* driver = nullptr;
vl_host_iface loopback{};

struct Input {
  const uint8_t* data;
  std::size_t size;
  bool take(std::size_t n, const uint8_t** out) {
    if (size < n) return false;
    *out = data;
    data += n;
    size -= n;
    return true;
  }
};

// The header parser alone, on an exact-size copy: its lengths stay inside
// the datagram.
void parse(const uint8_t* datagram, std::size_t n) {
  VlRtpHeader header{};
  if (vl_rtp_parse(datagram, n, &header) != 0) return;
  fuzz::require(header.header_length >= vl_rtp_header_size, "header shorter than the fixed header");
  fuzz::require(header.payload_length > 0, "empty payload accepted");
  fuzz::require(std::size_t{header.header_length} + header.payload_length <= n, "header and payload exceed the datagram");
}

VlChannelMapPtr map_of(Input& in, uint32_t channels, bool from_input) {
  std::vector<int32_t> entries(channels);
  const uint8_t* bytes = nullptr;
  const bool have = from_input && in.take(channels, &bytes);
  // From the input: every device channel, none (-1) and one past the last.
  for (uint32_t i = 0; i < channels; ++i)
    entries[i] = have ? static_cast<int32_t>(bytes[i] % (play_channels + 2)) - 1
                      : static_cast<int32_t>(i % play_channels);
  return VlChannelMapPtr(vl_channel_map_ctor(entries.data(), channels));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_logging();
  fuzz::enter_private_network();
  manager = vl_rtp_sw_recv_init();
  fuzz::require(manager != nullptr, "no receive manager");
  vltest::RingDriver::Config config;
  config.play_channels = play_channels;
  driver = new vltest::RingDriver(config);
  loopback = rtp_test::loopback_interface();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Input in{data, size};
  const uint8_t* head = nullptr;
  if (!in.take(2, &head)) return 0;
  rtp_test::SdpOptions options;
  const uint32_t channels = channel_counts[(head[0] >> 2) & 3];
  options.encoding = std::string(encodings[head[0] & 3]) + "/48000/" + std::to_string(channels);
  options.sync_time = (head[0] & 0x10) != 0;
  options.sync = 5000;
  const int32_t delay = static_cast<int8_t>(head[1]) * 16;

  driver->clear_play();
  driver->set_current_timestamp(now);
  const std::string sdp = rtp_test::sdp(options);
  VlStreamHandle stream = vl_recvmgr_add_stream(manager, &loopback, sdp.c_str(), driver->get_play_ifc(), delay);
  fuzz::require(stream != nullptr, "the receiver refused a good stream");
  const VlChannelMapPtr map = map_of(in, channels, (head[0] & 0x20) != 0);
  vl_recvmgr_set_channel_map(manager, stream, map.get());

  const uint8_t* record = nullptr;
  while (in.take(3, &record)) {
    const std::size_t length = std::min<std::size_t>((std::size_t{record[0]} << 8) | record[1], in.size);
    const uint8_t* bytes = nullptr;
    in.take(length, &bytes);
    const std::unique_ptr<uint8_t[]> datagram(new uint8_t[length]);
    if (length > 0) std::memcpy(datagram.get(), bytes, length);
    parse(datagram.get(), length);
    driver->advance(record[2] * 8u);
    vl_rtpsw_recv_datagram(stream, datagram.get(), length);
  }
  VlReceiverInfo info{};
  vl_recvmgr_get_receiver_info(manager, stream, &info);
  vl_recvmgr_remove_stream(manager, stream);
  return 0;
}
