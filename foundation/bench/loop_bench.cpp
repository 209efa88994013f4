// Cost of the main loop as it grows: a pass at 10, 100 and 1,000 attached
// descriptors, and setting, resetting and firing a timer among 100, 1,000
// and 10,000 pending ones. A flat row across the sizes is the aim.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
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
  unsigned seen = 0;
  unsigned fired = 0;
  bool last = false;
  void OnEvent(int, short revents) {
    seen += revents;
    if (last) multiplexer.terminate();
  }
  void OnTimer() { ++fired; }
};

struct Load {
  std::vector<std::unique_ptr<Client>> clients;
  std::unique_ptr<Timer[]> timers;
  int fds[2];
  std::ostringstream sink;
  std::streambuf* old_clog;

  Load(int descriptors, int pending) : timers(new Timer[pending > 0 ? pending : 1]) {
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
    if (!clients.empty()) clients.back()->last = true;
    // Delays spread over the first hour, as slot timers are.
    Client& owner = clients.empty() ? spare : *clients.front();
    for (int i = 0; i < pending; ++i) timers[i].set(1000 + (i * 7919u) % 3600000u, &Client::OnTimer, &owner);
  }
  ~Load() {
    timers.reset();
    clients.clear();
    close(fds[1]);
    std::clog.rdbuf(old_clog);
    Mux::clear_cached_time();
  }
  Client spare;
};

// One pass: timers, Dpcs, poll set, poll, dispatch to every handler.
void BM_LoopPass(benchmark::State& state) {
  Load load(int(state.range(0)), int(state.range(1)));
  for (auto _ : state) multiplexer.run(false, true);
  state.counters["timers"] = multiplexer.timer_count();
  state.counters["handlers"] = multiplexer.handler_count();
}
BENCHMARK(BM_LoopPass)->ArgsProduct({{10, 100, 1000}, {1000}})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoopPass)->ArgsProduct({{100}, {100, 10000}})->Unit(benchmark::kMicrosecond);

// Timer costs alone: timer_bench.cpp.

}  // namespace

BENCHMARK_MAIN();
