// The default simulated board: what tools/run-daemon starts on and what
// "board reset" returns to. Each row builds one device in its default state;
// a new device is one Driver class (its requests, commands and reset) and
// one row here.
#include <memory>

#include "foundation/sys_paths.h"
#include "simboard/e1_cas.h"
#include "simboard/hal.h"
#include "simboard/maintenance.h"
#include "simboard/simulator.h"
#include "simboard/watchdog.h"

namespace SimBoard {

namespace {

struct Device {
  const char* what;
  std::unique_ptr<Driver> (*make)();
};

const Device kDefaultBoard[] = {
    // Every cross-connect output disabled; the eight BRI framers' status
    // register 51 at 0xC5 (normal); the clock on freerun.
    {"cross-connect, SPI framers, clock", [] { return std::unique_ptr<Driver>(new Hal); }},
    // Four E1 trunks normal, counters 0.
    {"E1 maintenance", [] { return std::unique_ptr<Driver>(new Maintenance); }},
    // CAS closed on every trunk.
    {"E1 CAS", [] { return std::unique_ptr<Driver>(new E1Cas); }},
    {"watchdog", [] { return std::unique_ptr<Driver>(new Watchdog(SysPaths::kWatchdog)); }},
};

}  // namespace

void BuildDefaultBoard(Simulator& sim) {
  for (const Device& d : kDefaultBoard) sim.add(d.make());
}

}  // namespace SimBoard
