// Cost of the main loop at the size a busy controller gives it: 1,000
// attached descriptors and 5,000 pending timers.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <iostream>
#include <memory>
#include <sstream>
#include <vector>

#include "foundation/event.h"
#include "foundation/mux_time.h"
#include "foundation/timer.h"

namespace {

struct Client {
  Event ev;
  Timer timers[5];
  unsigned seen = 0;
  bool last = false;
  void OnEvent(int, short revents) {
    seen += revents;
    if (last) multiplexer.terminate();
  }
  void OnTimer() {}
};

struct Load {
  std::vector<std::unique_ptr<Client>> clients;
  int fds[2];
  std::ostringstream sink;
  std::streambuf* old_clog;

  Load(int descriptors, int timers) {
    rlimit lim;
    getrlimit(RLIMIT_NOFILE, &lim);
    lim.rlim_cur = lim.rlim_max;
    setrlimit(RLIMIT_NOFILE, &lim);
    Mux::set_cached_time(Mux::timeval(1000000, 0));
    old_clog = std::clog.rdbuf(sink.rdbuf());
    if (pipe(fds) != 0) abort();
    if (write(fds[1], "x", 1) != 1) abort();
    Fd readable(fds[0]);
    for (int i = 0; i < descriptors; ++i) {
      clients.emplace_back(new Client);
      Client& c = *clients.back();
      c.ev.Bind("client", &Client::OnEvent, &c);
      c.ev.Schedule(readable, POLLIN);
    }
    clients.back()->last = true;
    // Delays spread over the first hour, as slot timers are.
    for (int i = 0; i < timers; ++i) {
      Client& c = *clients[i % clients.size()];
      c.timers[(i / clients.size()) % 5].set(1000 + (i * 7919u) % 3600000u, &Client::OnTimer, &c);
    }
  }
  ~Load() {
    clients.clear();
    close(fds[1]);
    std::clog.rdbuf(old_clog);
    Mux::clear_cached_time();
  }
};

// One pass: timers, Dpcs, poll set, poll, dispatch to every handler.
void BM_LoopPass(benchmark::State& state) {
  Load load(1000, 5000);
  for (auto _ : state) multiplexer.run(false, true);
  state.counters["timers"] = multiplexer.timer_count();
  state.counters["handlers"] = multiplexer.handler_count();
}
BENCHMARK(BM_LoopPass)->Unit(benchmark::kMicrosecond);

// Re-arming with the longest delay so far: the insertion stops at the tail.
void BM_TimerSetLongest(benchmark::State& state) {
  Load load(1000, 5000);
  Client c;
  for (auto _ : state) {
    c.timers[0].set(3700000, &Client::OnTimer, &c);
    c.timers[0].reset();
  }
}
BENCHMARK(BM_TimerSetLongest);

// Re-arming with delays anywhere in the queue's range.
void BM_TimerSetSpread(benchmark::State& state) {
  Load load(1000, 5000);
  Client c;
  unsigned i = 0;
  for (auto _ : state) {
    c.timers[0].set(1000 + (++i * 104729u) % 3600000u, &Client::OnTimer, &c);
    c.timers[0].reset();
  }
}
BENCHMARK(BM_TimerSetSpread);

// The periodic 3000 ms statistics timer among the others.
void BM_TimerSetPeriodic(benchmark::State& state) {
  Load load(1000, 5000);
  Client c;
  for (auto _ : state) {
    c.timers[0].set(3000, &Client::OnTimer, &c);
    c.timers[0].reset();
  }
}
BENCHMARK(BM_TimerSetPeriodic);

}  // namespace

BENCHMARK_MAIN();
