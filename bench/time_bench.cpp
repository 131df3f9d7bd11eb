// Cost of the nanosecond/timestamp conversions used on every packet.
#include "vlsys/vl_time.h"

#include <benchmark/benchmark.h>

namespace {

void BM_ns2ts(benchmark::State& state) {
  uint64_t ns = 1765000000123456789ULL;
  for (auto _ : state) {
    benchmark::DoNotOptimize(vl_time_ns2ts(ns, {48000, 1}));
    ns += 1000000;
  }
}
BENCHMARK(BM_ns2ts);

void BM_ts2ns(benchmark::State& state) {
  const uint64_t reference = 1765000000123456789ULL;
  uint32_t ts = vl_time_ns2ts(reference, {48000, 1});
  for (auto _ : state) {
    benchmark::DoNotOptimize(vl_time_ts2ns(ts, {48000, 1}, reference));
    ts += 48;
  }
}
BENCHMARK(BM_ts2ns);

}  // namespace

BENCHMARK_MAIN();
