#pragma once
// "/dev/mcc/ctl" of the simulated board: the multichannel HDLC controller.
// An open becomes a channel at MCC_ALLOCATE, served on the lowest free
// timeslot of the board's pool (MCC_TIMESLOT tells which); the last close
// frees it. Every record the daemon writes is one frame, routed over the
// simulated lines; frames that reach the channel's timeslot are its reads.
//
// Channels here are frame channels. A byte (transparent) channel would get a
// stream socket in place of the caller's descriptor at MCC_ALLOCATE (dup2
// onto the same number, before anything duplicated it).
#include <cstdint>
#include <memory>
#include <vector>

#include "simboard/driver.h"
#include "simboard/lines.h"

namespace SimBoard {

class Hal;
class Simulator;

class Mcc : public Driver {
public:
  // The controller timeslots the board hands out, and the trunk cables.
  Mcc(std::vector<int> pool, std::vector<std::pair<int, int>> cables);
  ~Mcc() override;

  void on_added(Simulator& sim) override { sim_ = &sim; }
  int on_open(Session& s) override;
  void on_close(Session& s) override;
  void on_data(Session& s, const std::uint8_t* data, std::size_t len) override;
  // The default cables and nothing set on the lines; open channels stay.
  void reset() override;

  const std::vector<int>& pool() const { return pool_; }
  // The open whose channel is served on the timeslot, or null.
  Session* channel(int timeslot) const;
  // The channel's far end stops draining for ms: the daemon's writes meet
  // EAGAIN once its buffer is full, then POLLOUT when draining resumes.
  bool stall(int timeslot, unsigned ms);
  Lines& lines() { return lines_; }

private:
  class Channel;

  Channel* channel_of(Session& s) const;
  int allocate(Session& s, void* arg);
  int timeslot(Session& s, unsigned long value);
  Hal* hal() const;
  Lines::Handed deliver(int timeslot, const Lines::Frame& frame);

  std::vector<int> pool_;
  Simulator* sim_ = nullptr;
  Lines lines_;
};

}  // namespace SimBoard
