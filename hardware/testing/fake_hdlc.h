#pragma once
// A pair of fake HDLC channels joined back to back, for tests of the link
// layers. Each end is a GenericHDLC that reports to an HDLC::Notify like the
// real channel: frames, readiness and errors reach the client from the main
// loop (a Dpc and Timers), never from inside hdlc_transmit, so a layer meets
// the same re-entrancy as on the board. Each direction can lose, double or
// spoil the n-th frame, swallow everything, and repeat its last frame on an
// idle line; it records what was sent and what was delivered.
//
// Nothing is delivered unless the loop runs (or the test calls step()).
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "foundation/dpc.h"
#include "foundation/timer.h"
#include "hardware/hdlc.h"

namespace HdlcTesting {

using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(const Packet& p);
Packet ToPacket(const Bytes& b);

class FakeLink;
class FakeChannel;

// What one end transmits, on its way to the other end.
class Direction {
public:
  using Spoiler = std::function<void(Bytes&)>;

  // The n-th frame transmitted from now (1: the next one) is lost, arrives
  // twice, or arrives spoiled (by default with its last octet inverted).
  void drop(unsigned nth);
  void duplicate(unsigned nth);
  void corrupt(unsigned nth, Spoiler how = Spoiler());
  // Every frame is lost while on.
  void swallow(bool on) { swallow_ = on; }
  // The last frame that went across arrives again every ms while nothing
  // new is transmitted (an idle SS7 line); 0 stops it. Repeats are not
  // counted by drop/duplicate/corrupt.
  void repeat(unsigned ms);

  // Frames the sending end's hdlc_transmit took, as given.
  const std::vector<Bytes>& sent() const { return sent_; }
  // Frames handed to the receiving client, as it got them.
  const std::vector<Bytes>& delivered() const { return delivered_; }
  // Frames lost: dropped, swallowed, or the receiving end was closed.
  unsigned lost() const { return lost_; }
  std::size_t in_flight() const { return queue_.size(); }
  void clear_record();

private:
  friend class FakeChannel;
  friend class FakeLink;
  struct Pending {
    enum Kind { Drop, Duplicate, Corrupt } kind;
    unsigned countdown;
    Spoiler how;
  };

  void take(const Bytes& frame);
  void on_repeat();

  FakeChannel* to_ = nullptr;
  std::vector<Pending> pending_;
  std::deque<Bytes> queue_;
  std::vector<Bytes> sent_;
  std::vector<Bytes> delivered_;
  Bytes last_;
  bool has_last_ = false;
  bool swallow_ = false;
  unsigned repeat_ms_ = 0;
  unsigned lost_ = 0;
  Timer repeat_timer_;
};

class FakeChannel : public GenericHDLC {
public:
  FakeChannel(const FakeChannel&) = delete;
  FakeChannel& operator=(const FakeChannel&) = delete;

  bool hdlc_transmit(Packet& frame) override;
  bool is_open() const override { return open_; }
  bool is_ready() const override { return ready_; }

  void bind(HDLC::Notify* client) { client_ = client; }
  void unbind() { client_ = nullptr; }

  // Open and not ready; the loop then makes it ready and calls on_hdlc_ready,
  // as the real channel does after activation.
  void open();
  // Closed quietly; frames on their way to it are lost.
  void close();
  // A device error: the channel closes now and reports on_hdlc_error(0)
  // from the loop.
  void fail();
  // hdlc_transmit refuses (false, not ready) for ms (0: until accept());
  // afterwards a refused end becomes ready and gets on_hdlc_ready.
  void refuse(unsigned ms);
  void accept();
  bool refusing() const { return refusing_; }
  // A frame arrives as if from the peer, past the direction's spoilers.
  void inject(const Bytes& frame);

  unsigned transmitted() const { return transmitted_; }
  unsigned refused() const { return refused_; }
  unsigned discarded() const { return discarded_; }
  unsigned received() const { return received_; }
  unsigned readies() const { return readies_; }

private:
  friend class FakeLink;
  friend class Direction;
  FakeChannel(FakeLink& link, Direction& out) : link_(link), out_(out) {}

  FakeLink& link_;
  Direction& out_;
  HDLC::Notify* client_ = nullptr;
  bool open_ = false;
  bool ready_ = false;
  bool refusing_ = false;
  bool ready_due_ = false;
  bool error_due_ = false;
  unsigned transmitted_ = 0, refused_ = 0, discarded_ = 0, received_ = 0, readies_ = 0;
  Timer refuse_timer_;
  void on_refuse_end();
};

class FakeLink {
public:
  // Both ends closed; open() them.
  FakeLink();
  ~FakeLink();
  FakeLink(const FakeLink&) = delete;
  FakeLink& operator=(const FakeLink&) = delete;

  FakeChannel& a() { return a_; }
  FakeChannel& b() { return b_; }
  Direction& a_to_b() { return ab_; }
  Direction& b_to_a() { return ba_; }

  // One callback due (an error, a readiness, or one frame, the directions
  // in turn);
  // false when nothing was due. The loop calls it through a Dpc.
  bool step();
  // Nothing due and nothing in flight.
  bool idle() const;

private:
  friend class FakeChannel;
  friend class Direction;
  void wake();
  void on_dpc();

  Direction ab_, ba_;
  FakeChannel a_, b_;
  bool turn_ = false;
  Dpc dpc_;
};

}  // namespace HdlcTesting
