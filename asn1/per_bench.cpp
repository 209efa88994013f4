// Aligned PER speed on a representative nested message: a SEQUENCE with
// optional fields and extension additions, a CHOICE, a SEQUENCE OF 16
// elements and strings. Heap allocations are counted per call.

#include "asn1/testing/per_samples.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <iterator>
#include <new>
#include <vector>

namespace {
std::size_t allocations = 0;
}  // namespace

// Kept out of line: inlined, the compiler mistakes the malloc/free pairing
// for a mismatch.
[[gnu::noinline]] void* operator new(std::size_t n) {
  ++allocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

ASN1::CoderEnv perEnv() {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  return env;
}

std::vector<char> sampleWire(const PT::Envelope& e) {
  ASN1::CoderEnv env = perEnv();
  std::vector<char> wire;
  if (!ASN1::encode(e, &env, std::back_inserter(wire))) std::abort();
  return wire;
}

void PerEncode(benchmark::State& state) {
  PT::Envelope e;
  PT::fillEnvelope(e, 16);
  ASN1::CoderEnv env = perEnv();
  std::vector<char> wire;
  wire.reserve(1024);
  const std::size_t before = allocations;
  for (auto _ : state) {
    wire.clear();
    if (!ASN1::encode(e, &env, std::back_inserter(wire))) state.SkipWithError("encode failed");
    benchmark::DoNotOptimize(wire.data());
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(wire.size()));
  state.counters["octets"] = double(wire.size());
  state.counters["allocs_per_encode"] = double(allocations - before) / double(state.iterations());
}
BENCHMARK(PerEncode);

void PerDecode(benchmark::State& state) {
  PT::Envelope sample;
  PT::fillEnvelope(sample, 16);
  const std::vector<char> wire = sampleWire(sample);
  ASN1::CoderEnv env = perEnv();
  const std::size_t before = allocations;
  for (auto _ : state) {
    // A fresh message per frame, as the links do.
    PT::Envelope e;
    if (!ASN1::decode(wire.data(), wire.data() + wire.size(), &env, e, true)) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(&e);
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(wire.size()));
  state.counters["allocs_per_decode"] = double(allocations - before) / double(state.iterations());
}
BENCHMARK(PerDecode);

void PerRoundTrip(benchmark::State& state) {
  PT::Envelope sample;
  PT::fillEnvelope(sample, 16);
  const std::vector<char> wire = sampleWire(sample);
  ASN1::CoderEnv env = perEnv();
  std::vector<char> out;
  out.reserve(1024);
  for (auto _ : state) {
    PT::Envelope e;
    ASN1::decode(wire.data(), wire.data() + wire.size(), &env, e, true);
    out.clear();
    ASN1::encode(e, &env, std::back_inserter(out));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(2 * wire.size()));
}
BENCHMARK(PerRoundTrip);

}  // namespace

BENCHMARK_MAIN();
