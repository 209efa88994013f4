// MSU throughput between two signalling links in service back to back: over
// the fake channel pair (the link alone) and over two channels of the
// simulated multichannel controller on cabled trunks. A batch of MSUs goes
// from one link to the other and counts once every MSU was delivered.
#include <benchmark/benchmark.h>

#include <iostream>
#include <memory>
#include <sstream>

#include "foundation/multiplexer.h"
#include "foundation/tests/loop_test_util.h"
#include "hardware/hdlc.h"
#include "hardware/hw_mux.h"
#include "hardware/testing/fake_hdlc.h"
#include "links/ss7/slc.h"
#include "links/ss7/tests/slc_test_util.h"
#include "simboard/simulator.h"
#include "simboard/tests/sim_test_util.h"

namespace {

using ss7test::Msu;
using ss7test::Owner;

constexpr unsigned kBatch = 100;

void BM_FakeChannel(benchmark::State& state) {
  looptest::Capture quiet_log(std::clog), quiet_err(std::cerr);
  looptest::CachedClock clock;
  HdlcTesting::FakeLink link;
  Owner oa, ob;
  oa.link.hdlc(&link.a());
  ob.link.hdlc(&link.b());
  link.a().bind(&oa.link);
  link.b().bind(&ob.link);
  link.a().open();
  link.b().open();
  oa.link.set_emergency(true);
  ob.link.set_emergency(true);
  oa.activate();
  ob.activate();
  auto drain = [&] {
    while (link.step()) {
    }
  };
  drain();
  clock.advance(500);
  multiplexer.timers_schedule();
  drain();
  if (oa.link.get_state_id() != 5 || ob.link.get_state_id() != 5) {
    state.SkipWithError("links not in service");
    return;
  }
  const ss7test::Bytes msu = Msu(static_cast<unsigned>(state.range(0)));
  for (auto _ : state) {
    for (unsigned i = 0; i < kBatch; ++i) oa.send(msu);
    drain();
    ob.received.clear();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kBatch);
  link.a().unbind();
  link.b().unbind();
}

void BM_SimulatedLines(benchmark::State& state) {
  looptest::Capture quiet_log(std::clog), quiet_err(std::cerr);
  looptest::CachedClock clock;
  SimBoard::Simulator& sim = SimBoard::Simulator::instance();
  sim.reset();
  {
    HwMux mux;
    HDLC ha(mux), hb(mux);
    ha.params(HDLC::Params{0, 16, 16, -1, 1});
    hb.params(HDLC::Params{1, 16, 48, -1, 1});
    Owner oa, ob;
    oa.link.hdlc(&ha);
    ob.link.hdlc(&hb);
    ha.bind(&oa.link);
    hb.bind(&ob.link);
    oa.link.set_emergency(true);
    ob.link.set_emergency(true);
    if (!ha.activate() || !hb.activate()) {
      state.SkipWithError("channels not open");
      return;
    }
    oa.activate();
    ob.activate();
    simtest::run_until([&] { return oa.link.get_state_id() == 3 && ob.link.get_state_id() == 3; });
    clock.advance(500);
    simtest::run_until([&] { return oa.link.get_state_id() == 5 && ob.link.get_state_id() == 5; });
    const ss7test::Bytes msu = Msu(static_cast<unsigned>(state.range(0)));
    bool ok = oa.link.get_state_id() == 5;
    long passes = 0;
    for (auto _ : state) {
      if (!ok) break;
      for (unsigned i = 0; i < kBatch; ++i) oa.send(msu);
      ok = simtest::run_until(
          [&] {
            ++passes;
            return ob.received.size() == kBatch;
          },
          10000);
      ob.received.clear();
    }
    if (!ok) state.SkipWithError("MSUs not delivered");
    state.counters["passes"] = double(passes) / double(state.iterations());
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kBatch);
    ha.unbind();
    hb.unbind();
  }
  sim.collect_closed();
  sim.reset();
}

}  // namespace

// SIO and SIF: 20 octets, and the longest SIF (272) with its SIO.
BENCHMARK(BM_FakeChannel)->Arg(20)->Arg(273);
BENCHMARK(BM_SimulatedLines)->Arg(20)->Arg(273);
