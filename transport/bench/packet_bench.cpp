#include "transport/packet.h"

#include <benchmark/benchmark.h>

#include <cstring>

// Take a buffer, fill it the way a sender does (payload, then two headers
// pushed in front) and give it back.
static void BM_TakeFillRelease(benchmark::State& state) {
  const unsigned payload = unsigned(state.range(0));
  unsigned char source[2048] = {};
  for (auto _ : state) {
    Packet p;
    p.reserve_head(7);
    std::memcpy(p.put(payload), source, payload);
    p.push16_b(static_cast<unsigned short>(payload + 4));
    p.push8(0x03);
    benchmark::DoNotOptimize(p.cdata());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * payload);
}
BENCHMARK(BM_TakeFillRelease)->Arg(16)->Arg(260)->Arg(2048);

// Share a filled packet, then write through the copy: the write pays for a
// new buffer and a copy of the data bytes.
static void BM_CopyOnWriteSplit(benchmark::State& state) {
  const unsigned payload = unsigned(state.range(0));
  Packet original;
  original.reserve_head(4);
  std::memset(original.put(payload), 0x5A, payload);
  for (auto _ : state) {
    Packet copy = original;
    copy.push8(0x01);
    benchmark::DoNotOptimize(copy.cdata());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * payload);
}
BENCHMARK(BM_CopyOnWriteSplit)->Arg(16)->Arg(260)->Arg(2048)->Arg(65532);

// Sharing alone: what queueing a packet costs.
static void BM_ShareRelease(benchmark::State& state) {
  Packet original;
  original.reserve_head(0);
  original.put8(1);
  for (auto _ : state) {
    Packet copy = original;
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_ShareRelease);
