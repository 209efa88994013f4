#pragma once
// A fake basic-rate bus for tests of the D channel links: one network end and
// up to nine terminal ends. Every frame the network end sends reaches every
// terminal; every frame a terminal sends reaches the network end only. The
// frames to or from each terminal can be lost one by one or all at once.
// Frames wait on the bus until the test calls step(), never reaching a
// client from inside hdlc_transmit.
#include <cstddef>
#include <deque>
#include <memory>
#include <vector>

#include "hardware/hdlc.h"
#include "hardware/testing/fake_hdlc.h"

namespace HdlcTesting {

class FakeBus;

class BusEnd : public GenericHDLC {
public:
  bool hdlc_transmit(Packet& frame) override;
  bool is_open() const override { return true; }
  bool is_ready() const override { return true; }

  void bind(HDLC::Notify* client) { client_ = client; }
  // The n-th frame (1: the next one) to or from this end is lost.
  void drop_in(unsigned nth);
  void drop_out(unsigned nth);
  // Every frame to (or from) this end is lost while on.
  void deaf(bool on) { deaf_ = on; }
  void mute(bool on) { mute_ = on; }
  // A frame arrives at this end as if from the bus.
  void inject(Bytes const& frame);

  std::vector<Bytes> const& sent() const { return sent_; }
  std::vector<Bytes> const& delivered() const { return delivered_; }
  void clear_record() {
    sent_.clear();
    delivered_.clear();
  }

private:
  friend class FakeBus;
  BusEnd(FakeBus& bus, int index) : bus_(bus), index_(index), network_(index < 0) {}
  static bool countdown(std::vector<unsigned>& pending);
  bool lose_in();

  FakeBus& bus_;
  int index_;
  bool network_;
  HDLC::Notify* client_ = nullptr;
  std::vector<unsigned> drop_in_, drop_out_;
  bool deaf_ = false, mute_ = false;
  std::vector<Bytes> sent_, delivered_;
};

class FakeBus {
public:
  static constexpr unsigned max_terminals = 9;

  explicit FakeBus(unsigned terminals);
  FakeBus(FakeBus const&) = delete;
  FakeBus& operator=(FakeBus const&) = delete;

  BusEnd& network() { return *network_; }
  BusEnd& terminal(unsigned i) { return *terminals_.at(i); }
  unsigned terminals() const { return unsigned(terminals_.size()); }

  // Delivers one frame to one end; false when nothing was on the bus.
  bool step();
  // Steps until the bus is quiet.
  void run();
  std::size_t in_flight() const { return queue_.size(); }

  // Every frame sent on the bus, lost ones included, in order; from is the
  // terminal's index or -1 for the network end.
  struct Sent {
    int from;
    Bytes frame;
  };
  std::vector<Sent> const& log() const { return log_; }
  void clear_log() { log_.clear(); }

private:
  friend class BusEnd;
  struct InFlight {
    BusEnd* to;
    Bytes frame;
  };
  void send(BusEnd& from, Bytes const& frame);

  std::unique_ptr<BusEnd> network_;
  std::vector<std::unique_ptr<BusEnd>> terminals_;
  std::deque<InFlight> queue_;
  std::vector<Sent> log_;
};

}  // namespace HdlcTesting
