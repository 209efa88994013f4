// The default simulated board: what tools/run-daemon starts on and what
// "board reset" returns to. Each row builds one device in its default state;
// a new device is one Driver class (its requests, commands and reset) and
// one row here.
#include <memory>

#include "foundation/sys_paths.h"
#include "simboard/dsp.h"
#include "simboard/dtmf.h"
#include "simboard/hal.h"
#include "simboard/simulator.h"
#include "simboard/watchdog.h"

namespace SimBoard {

namespace {

struct Device {
  const char* what;
  std::unique_ptr<Driver> (*make)();
};

const Device kDefaultBoard[] = {
    // Every cross-connect output disabled.
    {"cross-connect", [] { return std::unique_ptr<Driver>(new Hal); }},
    {"watchdog", [] { return std::unique_ptr<Driver>(new Watchdog(SysPaths::kWatchdog)); }},
    // Detectors, rejection and echo cancellers off, no loops.
    {"tone/DTMF", [] { return std::unique_ptr<Driver>(new Dtmf); }},
    // Interface version 2, every function off.
    {"voice processing", [] { return std::unique_ptr<Driver>(new Dsp); }},
};

}  // namespace

void BuildDefaultBoard(Simulator& sim) {
  for (const Device& d : kDefaultBoard) sim.add(d.make());
}

}  // namespace SimBoard
