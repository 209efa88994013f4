// Aligned PER speed of LGCP::Message on the committed sample set
// (lgcp_messages.txt, made by lgcp_sample_gen): a ping, a "create rtp" and
// random valid messages. Every decode fills a fresh message, as the links
// do. Heap allocations are counted per message.
#include "asn1/coder_env.h"
#include "messages/LGCP.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#ifndef LGCP_SAMPLES
#define LGCP_SAMPLES "lgcp_messages.txt"
#endif

namespace {
std::size_t allocations = 0;
}  // namespace

[[gnu::noinline]] void* operator new(std::size_t n) {
  ++allocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

typedef std::vector<char> Wire;

struct Samples {
  std::vector<Wire> ping, createRtp, random;
  std::size_t randomOctets = 0;

  Samples() {
    const char* path = std::getenv("LGCP_SAMPLES");
    std::ifstream in(path ? path : LGCP_SAMPLES);
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string kind, hex;
      if (!(fields >> kind >> hex) || hex.size() % 2) continue;
      Wire w;
      for (std::size_t i = 0; i < hex.size(); i += 2) w.push_back(char(std::stoul(hex.substr(i, 2), nullptr, 16)));
      if (kind == "ping") ping.push_back(w);
      if (kind == "create-rtp") createRtp.push_back(w);
      if (kind == "random") {
        randomOctets += w.size();
        random.push_back(w);
      }
    }
  }
};

const Samples& samples() {
  static const Samples s;
  return s;
}

ASN1::CoderEnv perEnv() {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  return env;
}

void run(benchmark::State& state, const std::vector<Wire>& set, bool reencode) {
  if (set.empty()) {
    state.SkipWithError("no samples: " LGCP_SAMPLES);
    return;
  }
  ASN1::CoderEnv env = perEnv();
  Wire out;
  out.reserve(1024);
  const std::size_t before = allocations;
  for (auto _ : state) {
    for (const Wire& w : set) {
      LGCP::Message m;
      if (!ASN1::decode(w.data(), w.data() + w.size(), &env, m)) state.SkipWithError("decode failed");
      if (reencode) {
        out.clear();
        if (!ASN1::encode(m, &env, std::back_inserter(out))) state.SkipWithError("encode failed");
        benchmark::DoNotOptimize(out.data());
      }
      benchmark::DoNotOptimize(&m);
    }
  }
  const double messages = double(state.iterations()) * double(set.size());
  state.counters["ns_per_msg"] =
      benchmark::Counter(messages * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["allocs_per_msg"] = double(allocations - before) / messages;
}

void BM_DecodeRandom(benchmark::State& state) { run(state, samples().random, false); }
void BM_DecodeEncodeRandom(benchmark::State& state) { run(state, samples().random, true); }
void BM_DecodePing(benchmark::State& state) { run(state, samples().ping, false); }
void BM_DecodeEncodePing(benchmark::State& state) { run(state, samples().ping, true); }
void BM_DecodeCreateRtp(benchmark::State& state) { run(state, samples().createRtp, false); }
void BM_DecodeEncodeCreateRtp(benchmark::State& state) { run(state, samples().createRtp, true); }

// A message made and dropped without coding.
void BM_EmptyMessage(benchmark::State& state) {
  const std::size_t before = allocations;
  for (auto _ : state) {
    LGCP::Message m;
    benchmark::DoNotOptimize(&m);
  }
  state.counters["allocs"] = double(allocations - before) / double(state.iterations());
}

BENCHMARK(BM_DecodeRandom)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeEncodeRandom)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodePing);
BENCHMARK(BM_DecodeEncodePing);
BENCHMARK(BM_DecodeCreateRtp);
BENCHMARK(BM_DecodeEncodeCreateRtp);
BENCHMARK(BM_EmptyMessage);

}  // namespace
