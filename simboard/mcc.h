#pragma once
// "/dev/mcc/ctl" of the simulated board: the multichannel HDLC controller.
// An open becomes a channel at MCC_ALLOCATE, served on the lowest free
// timeslot of the board's pool (MCC_TIMESLOT tells which); the last close
// frees it. Every record the daemon writes is one frame, routed over the
// simulated lines; frames that reach the channel's timeslot are its reads.
//
// Each channel type (data, BRI, transparent, SS7) has a pool of its own;
// MCC_RESOURCES tells their sizes. Transparent channels are byte channels:
// MCC_ALLOCATE puts a stream socket in place of the caller's descriptor, and
// what reaches them arrives in runs of at most their receive packet size.
#include <array>
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
  // Channels of each type: data, BRI, transparent, SS7.
  using TypePools = std::array<std::int32_t, 4>;

  // The controller timeslots the board hands out, the trunk cables and the
  // channels of each type (each as many as the timeslots when not given).
  Mcc(std::vector<int> pool, std::vector<std::pair<int, int>> cables, TypePools types = {-1, -1, -1, -1});
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
  // The same until resumed (on false).
  bool stall(int timeslot, bool on);
  const TypePools& types() const { return types_; }
  void set_types(const TypePools& types) { types_ = types; }
  Lines& lines() { return lines_; }

private:
  class Channel;

  Channel* channel_of(Session& s) const;
  int allocate(Session& s, void* arg);
  int timeslot(Session& s, unsigned long value);
  int resources(void* arg);
  // Open channels of the type.
  int in_use(std::int32_t type) const;
  Hal* hal() const;
  Lines::Handed deliver(int timeslot, const Lines::Frame& frame);

  std::vector<int> pool_;
  TypePools default_types_;
  TypePools types_;
  Simulator* sim_ = nullptr;
  Lines lines_;
};

}  // namespace SimBoard
