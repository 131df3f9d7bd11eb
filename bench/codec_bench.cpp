// Encode and decode cost per sample of each payload format, beside memcpy
// of the same wire bytes. 48 frames per packet, as a 1 ms packet at 48 kHz.
#include "vlcodec/dec_am824.h"
#include "vlcodec/dec_l16.h"
#include "vlcodec/dec_l24.h"
#include "vlcodec/dec_raw.h"
#include "vlcodec/enc_am824.h"
#include "vlcodec/enc_l16.h"
#include "vlcodec/enc_l24.h"
#include "vlcodec/enc_raw.h"
#include "vltest/ring_driver.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <numeric>
#include <string>
#include <vector>

namespace {

constexpr uint32_t frames_per_packet = 48;
constexpr uint32_t packet_start = 1000;

VlSdpStream sdp(const char* format, int64_t channels) {
  const std::string text = std::string("v=0\no=- 1 1 IN IP4 10.0.0.1\ns=bench\nt=0 0\nm=audio 5004 RTP/AVP 98\n"
                     "c=IN IP4 239.1.2.3/32\na=rtpmap:98 ") +
         format + "/48000/" + std::to_string(channels) + "\n";
  VlSdpStream stream;
  vl_sdp_stream_read(text.c_str(), &stream);
  return stream;
}

// Identity: stream channel i from ring channel i. Scattered: a fixed
// permutation with every fourth channel taken twice.
std::vector<int32_t> map_entries(int64_t channels, bool scattered) {
  std::vector<int32_t> entries(static_cast<size_t>(channels));
  std::iota(entries.begin(), entries.end(), 0);
  if (!scattered) return entries;
  for (size_t i = 0; i < entries.size(); ++i)
    entries[i] = static_cast<int32_t>((i * 7 + 3) % entries.size());
  for (size_t i = 3; i < entries.size(); i += 4) entries[i] = entries[i - 1];
  return entries;
}

vltest::RingDriver::Config ring(int64_t channels) {
  vltest::RingDriver::Config config;
  config.capture_channels = static_cast<uint32_t>(channels);
  config.play_channels = static_cast<uint32_t>(channels);
  return config;
}

void report(benchmark::State& state, int64_t channels) {
  const double samples = static_cast<double>(channels) * frames_per_packet;
  state.counters["ns_per_sample"] =
      benchmark::Counter(samples, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(samples));
}

void encode(benchmark::State& state, VlEnc* (*ctor)(VlCaptureIfc*, const VlSdpStream&), const char* format) {
  const int64_t channels = state.range(0);
  vltest::RingDriver driver(ring(channels));
  driver.fill_capture(0, 8192);
  driver.set_current_timestamp(packet_start + frames_per_packet);
  VlEnc* enc = ctor(driver.get_capture_ifc(), sdp(format, channels));
  const std::vector<int32_t> entries = map_entries(channels, state.range(1) != 0);
  VlChannelMapPtr map(vl_channel_map_ctor(entries.data(), entries.size()));
  vl_enc_set_map(enc, map.get());
  std::vector<uint8_t> payload(vl_enc_get_buffer_size(enc, frames_per_packet));
  for (auto _ : state) {
    uint64_t size = payload.size();
    benchmark::DoNotOptimize(vl_enc_process(enc, frames_per_packet, packet_start, payload.data(), &size));
    benchmark::ClobberMemory();
  }
  report(state, channels);
  vl_object_delete(enc);
}

void decode(benchmark::State& state, VlDec* (*ctor)(VlPlayIfc*, const VlSdpStream&), const char* format,
            uint32_t bytes_per_sample) {
  const int64_t channels = state.range(0);
  vltest::RingDriver driver(ring(channels));
  driver.set_current_timestamp(0);
  VlDec* dec = ctor(driver.get_play_ifc(), sdp(format, channels));
  const std::vector<int32_t> entries = map_entries(channels, state.range(1) != 0);
  VlChannelMapPtr map(vl_channel_map_ctor(entries.data(), entries.size()));
  vl_dec_set_map(dec, map.get());
  std::vector<uint8_t> payload(static_cast<size_t>(channels) * bytes_per_sample * frames_per_packet, 0x5A);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        vl_dec_process(dec, packet_start, payload.data(), static_cast<int32_t>(payload.size())));
    benchmark::ClobberMemory();
  }
  report(state, channels);
  vl_object_delete(dec);
}

// The reference: copying the wire bytes of one L24 packet.
void BM_memcpy_L24(benchmark::State& state) {
  const int64_t channels = state.range(0);
  std::vector<uint8_t> from(static_cast<size_t>(channels) * 3 * frames_per_packet, 0x5A);
  std::vector<uint8_t> to(from.size());
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size());
    benchmark::ClobberMemory();
  }
  report(state, channels);
}

void shapes(benchmark::internal::Benchmark* b) {
  for (int64_t channels : {1, 2, 8, 64})
    for (int64_t scattered : {0, 1}) b->Args({channels, scattered});
  b->ArgNames({"channels", "scattered"});
}

BENCHMARK(BM_memcpy_L24)->Arg(1)->Arg(2)->Arg(8)->Arg(64)->ArgName("channels");
BENCHMARK_CAPTURE(encode, L16, vl_enc_l16_ctor, "L16")->Apply(shapes);
BENCHMARK_CAPTURE(encode, L24, vl_enc_l24_ctor, "L24")->Apply(shapes);
BENCHMARK_CAPTURE(encode, L32, vl_enc_raw_ctor, "L32")->Apply(shapes);
BENCHMARK_CAPTURE(encode, AM824, vl_enc_am824_ctor, "AM824")->Apply(shapes);
BENCHMARK_CAPTURE(decode, L16, vl_dec_l16_ctor, "L16", 2)->Apply(shapes);
BENCHMARK_CAPTURE(decode, L24, vl_dec_l24_ctor, "L24", 3)->Apply(shapes);
BENCHMARK_CAPTURE(decode, L32, vl_dec_raw_ctor, "L32", 4)->Apply(shapes);
BENCHMARK_CAPTURE(decode, AM824, vl_dec_am824_ctor, "AM824", 4)->Apply(shapes);

}  // namespace

BENCHMARK_MAIN();
