#pragma once
// "/dev/e1-cas" of the simulated board: per trunk whether CAS signalling is
// open, per (trunk, timeslot) whether the channel is enabled and its
// transmitted and received bits. The state belongs to the device, not to an
// open, so it survives a reopen. A change of received bits is one 12-byte
// record to the daemon; records made while nothing has the device open wait
// for the next open. With the loop on, bits sent on a trunk are received on
// the trunk it is cabled to.
#include <cstdint>
#include <deque>

#include "board/e1_cas.h"
#include "simboard/driver.h"

namespace SimBoard {

class Simulator;

class E1Cas : public Driver {
public:
  static constexpr int kTrunks = Board::E1Cas::kTrunks;
  static constexpr int kTimeslots = Board::E1Cas::kTimeslots;
  static constexpr std::size_t kPending = 256;

  struct Channel {
    bool enabled = false;
    std::uint8_t tx = 0;
    std::uint8_t rx = 0;
  };

  E1Cas();

  void on_added(Simulator& sim) override { sim_ = &sim; }
  int on_open(Session& s) override;
  // Every trunk closed, every channel disabled with bits 0, loop off,
  // nothing pending.
  void reset() override;

  bool open(int trunk) const { return open_[trunk]; }
  const Channel& channel(int trunk, int timeslot) const { return channels_[trunk][timeslot]; }
  // The far end sends bits; false when the channel is not enabled (the bits
  // are kept, nothing is reported).
  bool receive(int trunk, int timeslot, std::uint8_t bits);
  void set_loop(bool on) { loop_ = on; }
  // The trunk cabled to this one on the board's lines ("line cable"; the
  // default board cables 0 with 1 and 2 with 3), -1 for none.
  int partner(int trunk) const;

private:
  bool valid(int trunk, int timeslot) const;
  int open_trunk(unsigned long trunk);
  int close_trunk(unsigned long trunk);
  int enable(void* arg);
  int set_bits(void* arg);
  int get_bits(void* arg);
  void transmit(int trunk, int timeslot);
  void report(int trunk, int timeslot);

  bool open_[kTrunks];
  Channel channels_[kTrunks][kTimeslots];
  bool loop_ = false;
  Simulator* sim_ = nullptr;
  std::deque<Board::E1Cas::CasChannel> pending_;
};

}  // namespace SimBoard
