// The loop's timers against a std::multimap of the same deadlines, at 100,
// 1,000 and 10,000 pending timers spread over the first hour. The multimap
// rows are the yardstick: they run the loop's timer step with the multimap
// as its queue (each firing measured, the Dpc run, the wait to the head), on
// the same deadlines and the same clock, so only the queue differs.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "foundation/measure.h"
#include "foundation/multiplexer.h"
#include "foundation/mux_time.h"
#include "foundation/timer.h"

namespace {

const uint64_t kStartMs = 1000000000;

void set_clock(uint64_t ms) { Mux::set_cached_time(Mux::timeval(long(ms / 1000), long(ms % 1000 * 1000))); }

// Delays spread over the first hour, as slot timers are.
unsigned spread_delay(unsigned i) { return 1000 + (i * 7919u) % 3600000u; }

struct Counter {
  unsigned fired = 0;
  void On() { ++fired; }
  template <class Q>
  void On(Q&, uint32_t) {
    ++fired;
  }
};

// The loop's timer step on a multimap: what such a queue would hold per
// timer is the client to call.
template <class Client>
struct MapQueue {
  std::multimap<uint32_t, Client*> map;
  Measure measure;
  int schedule() {
    const uint32_t now = Mux::pass_milliseconds();
    while (!map.empty() && static_cast<int32_t>(now - map.begin()->first) >= 0) {
      Client* c = map.begin()->second;
      map.erase(map.begin());
      measure.begin();
      c->On(*this, now);
      measure.end();
    }
    multiplexer.execute_dpc();
    return map.empty() ? 0 : static_cast<int32_t>(map.begin()->first - now);
  }
};

struct TimerLoad {
  std::unique_ptr<Timer[]> timers;
  Counter owner;
  explicit TimerLoad(unsigned n) : timers(new Timer[n]) {
    set_clock(kStartMs);
    for (unsigned i = 0; i < n; ++i) timers[i].set(spread_delay(i), &Counter::On, &owner);
  }
  ~TimerLoad() {
    timers.reset();
    Mux::clear_cached_time();
  }
};

struct MapLoad {
  MapQueue<Counter> q;
  Counter owner;
  explicit MapLoad(unsigned n) {
    set_clock(kStartMs);
    const uint32_t now = Mux::pass_milliseconds();
    for (unsigned i = 0; i < n; ++i) q.map.emplace(now + spread_delay(i), &owner);
  }
  ~MapLoad() { Mux::clear_cached_time(); }
};

// A timer set due at once and fired by the loop's timer step.
void BM_FireDue_Timer(benchmark::State& state) {
  TimerLoad load(unsigned(state.range(0)));
  Counter c;
  Timer t;
  for (auto _ : state) {
    t.set(0, &Counter::On, &c);
    multiplexer.timers_schedule();
  }
  if (c.fired != state.iterations()) state.SkipWithError("timer did not fire");
}

void BM_FireDue_Multimap(benchmark::State& state) {
  MapLoad load(unsigned(state.range(0)));
  Counter c;
  for (auto _ : state) {
    const uint32_t now = Mux::pass_milliseconds();
    load.q.map.emplace(now, &c);
    load.q.schedule();
  }
  if (c.fired != state.iterations()) state.SkipWithError("entry did not fire");
}

// Every timer periodic with its own delay: the clock moves to the next
// deadline, what is due fires and is set again. Time per firing.
struct Periodic {
  Timer t;
  unsigned delay = 0;
  unsigned* fired = nullptr;
  void On() {
    ++*fired;
    t.set(delay, &Periodic::On, this);
  }
};

void BM_FirePeriodic_Timer(benchmark::State& state) {
  const unsigned n = unsigned(state.range(0));
  set_clock(kStartMs);
  unsigned fired = 0;
  std::unique_ptr<Periodic[]> p(new Periodic[n]);
  for (unsigned i = 0; i < n; ++i) {
    p[i].delay = spread_delay(i);
    p[i].fired = &fired;
    p[i].t.set(p[i].delay, &Periodic::On, &p[i]);
  }
  uint64_t now = kStartMs;
  for (auto _ : state) {
    now += static_cast<uint32_t>(multiplexer.first_timer()->expiry() - static_cast<uint32_t>(now));
    set_clock(now);
    multiplexer.timers_schedule();
  }
  state.SetItemsProcessed(fired);
  p.reset();
  Mux::clear_cached_time();
}

// The same periodic clients on the multimap: each sets itself again.
struct MapPeriodic {
  unsigned delay = 0;
  unsigned* fired = nullptr;
  // Counts from the clock as a Timer does.
  void On(MapQueue<MapPeriodic>& q, uint32_t) {
    ++*fired;
    q.map.emplace(Mux::pass_milliseconds() + delay, this);
  }
};

void BM_FirePeriodic_Multimap(benchmark::State& state) {
  const unsigned n = unsigned(state.range(0));
  set_clock(kStartMs);
  unsigned fired = 0;
  std::vector<MapPeriodic> p(n);
  MapQueue<MapPeriodic> q;
  for (unsigned i = 0; i < n; ++i) {
    p[i].delay = spread_delay(i);
    p[i].fired = &fired;
    q.map.emplace(Mux::pass_milliseconds() + p[i].delay, &p[i]);
  }
  uint64_t now = kStartMs;
  for (auto _ : state) {
    now += static_cast<uint32_t>(q.map.begin()->first - static_cast<uint32_t>(now));
    set_clock(now);
    q.schedule();
  }
  state.SetItemsProcessed(fired);
  Mux::clear_cached_time();
}

// Setting a timer anywhere in the queue's range, then cancelling it.
void BM_SetReset_Timer(benchmark::State& state) {
  TimerLoad load(unsigned(state.range(0)));
  Counter c;
  Timer t;
  unsigned i = 0;
  for (auto _ : state) {
    t.set(1000 + (++i * 104729u) % 3600000u, &Counter::On, &c);
    t.reset();
  }
}

void BM_SetReset_Multimap(benchmark::State& state) {
  MapLoad load(unsigned(state.range(0)));
  Counter c;
  unsigned i = 0;
  for (auto _ : state) {
    auto it = load.q.map.emplace(Mux::pass_milliseconds() + 1000 + (++i * 104729u) % 3600000u, &c);
    load.q.map.erase(it);
  }
}

// Moving a pending timer to a new expiry: a supervision timer re-armed on
// every message.
void BM_Rearm_Timer(benchmark::State& state) {
  TimerLoad load(unsigned(state.range(0)));
  Counter c;
  Timer t;
  unsigned i = 0;
  for (auto _ : state) t.set(1000 + (++i * 104729u) % 3600000u, &Counter::On, &c);
}

void BM_Rearm_Multimap(benchmark::State& state) {
  MapLoad load(unsigned(state.range(0)));
  Counter c;
  unsigned i = 0;
  auto it = load.q.map.emplace(Mux::pass_milliseconds() + 1000, &c);
  for (auto _ : state) {
    load.q.map.erase(it);
    it = load.q.map.emplace(Mux::pass_milliseconds() + 1000 + (++i * 104729u) % 3600000u, &c);
  }
}

}  // namespace

BENCHMARK(BM_FireDue_Timer)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_FireDue_Multimap)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_FirePeriodic_Timer)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_FirePeriodic_Multimap)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_SetReset_Timer)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_SetReset_Multimap)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_Rearm_Timer)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_Rearm_Multimap)->Arg(100)->Arg(1000)->Arg(10000);
