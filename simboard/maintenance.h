#pragma once
// "/dev/maintenance" of the simulated board: per E1 trunk the state and the
// error counters of its synchronisation status record, a forced read
// failure, and the TCLK mask and framer clock source the daemon set.
#include <cstdint>

#include "board/maintenance.h"
#include "simboard/driver.h"

namespace SimBoard {

class Maintenance : public Driver {
public:
  static constexpr int kTrunks = Board::Maintenance::kTrunks;

  struct Trunk {
    std::int32_t state = Board::Maintenance::kNormal;  // any number, as a driver may report
    std::int32_t slips = 0, lossBF = 0, lossCarrier = 0, ais = 0, rai = 0;
    int read_error = 0;  // errno of every status read, 0: none
  };

  Maintenance();

  // Every trunk normal with counters 0, TCLK 0, no clock selected.
  void reset() override;

  Trunk& trunk(int n) { return trunks_[n]; }
  std::uint32_t tclk() const { return tclk_; }
  unsigned tclk_requests() const { return tclk_requests_; }
  // -1 while nothing selected one.
  long clock() const { return clock_; }

private:
  int read_status(void* arg);

  Trunk trunks_[kTrunks];
  std::uint32_t tclk_ = 0;
  unsigned tclk_requests_ = 0;
  long clock_ = -1;
};

}  // namespace SimBoard
