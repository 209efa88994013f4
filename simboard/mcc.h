#pragma once
// "/dev/mcc/ctl" of the simulated board: the multichannel HDLC controller.
// An open becomes a channel at MCC_ALLOCATE, served on the lowest free
// timeslot of the board's pool (MCC_TIMESLOT tells which); the last close
// frees it. Every record the daemon writes is one frame, routed over the
// simulated lines; frames that reach the channel's timeslot are its reads.
//
// Each channel type (data, BRI, transparent, SS7) has a pool of its own;
// MCC_RESOURCES tells their sizes. The other channels are frame channels:
// a frame that reaches one arrives whole when it fits the receive packet
// size the channel was allocated with, and is dropped (counted, "mcc list")
// when it does not. Transparent channels are byte channels: MCC_ALLOCATE puts
// a stream socket in place of the caller's descriptor, and what reaches them
// arrives in runs of at most their receive packet size.
//
// The lines keep their pace on a tick, which runs only while a channel below
// needs it. A transparent channel drains what the daemon wrote at the line
// rate, 8,000 octets a second, and holds about a second of it (then the
// daemon's writes meet EAGAIN). When its output is taken away it plays out
// what it still holds first: the daemon waits for the poll to tell that the
// channel played everything before it does that, which a socket cannot tell.
// A channel in SS7 mode repeats the last FISU or LSSU written, once a tick,
// while nothing new is written.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/timer.h"
#include "simboard/driver.h"
#include "simboard/lines.h"

namespace SimBoard {

class Hal;
class Simulator;

class Mcc : public Driver {
public:
  // Channels of each type: data, BRI, transparent, SS7.
  using TypePools = std::array<std::int32_t, 4>;

  static constexpr unsigned kTickMs = 10;
  static constexpr unsigned kOctetsPerMs = 8;
  // A late tick catches up at most this much line time.
  static constexpr unsigned kMaxCatchUpMs = 1000;
  // SO_SNDBUF of the daemon's end of a transparent channel (the kernel
  // doubles it): about a second of line time.
  static constexpr int kTransparentBuffer = 4096;

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
  // The far end stops (or resumes) taking what the daemon writes.
  static void hold(Session& s, bool on);
  static bool held(Session& s);
  void arm_tick();
  void on_tick();
  // What a transparent channel still holds goes out now.
  void play_out(int timeslot);

  std::vector<int> pool_;
  TypePools default_types_;
  TypePools types_;
  Simulator* sim_ = nullptr;
  Lines lines_;
  Timer tick_;
  unsigned last_tick_ = 0;
};

}  // namespace SimBoard
