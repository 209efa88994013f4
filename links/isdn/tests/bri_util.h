#pragma once
// A basic-rate bus for the D channel tests: the network side in a slot-like
// adapter on the bus's network end, and user-side links with the basic-rate
// flag on its terminal ends. The clock is the test's.
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/multiplexer.h"
#include "foundation/tests/loop_test_util.h"
#include "hardware/testing/fake_bus.h"
#include "links/isdn/lapd.h"
#include "links/isdn/lapd_nt.h"
#include "links/isdn/tests/lapd_util.h"
#include "transport/protocol.h"

namespace britest {

using HdlcTesting::Bytes;
using Strings = std::vector<std::string>;

// Stands in for the slot between the network side and its channel.
class NetSlot : public ProtocolsFamily, public HDLC::Notify {
public:
  explicit NetSlot(GenericHDLC& channel, unsigned log = 0) : channel_(channel) {
    nt = new ISDN::LAPD_NT;
    nt->set_log(log);
    add_protocol_tail(nt);
  }
  void transmit(Packet& frame) override {
    if (channel_.hdlc_transmit(frame)) sent.push_back(HdlcTesting::ToBytes(frame));
  }
  void on_hdlc_receive(Packet& frame) override { receive(frame); }
  void on_hdlc_error(HDLC::Notify::Cause::Type) override {}
  void on_hdlc_ready() override {}

  void on_message(Packet& p) override {
    Bytes const b = HdlcTesting::ToBytes(p);
    received.push_back(b);
  }
  void on_activated(Protocol*) override { events.push_back("up"); }

  void send(Bytes const& msg) {
    Packet p = HdlcTesting::ToPacket(msg);
    message(p);
  }

  ISDN::LAPD_NT* nt;
  std::vector<Bytes> received;
  std::vector<Bytes> sent;
  Strings events;

private:
  GenericHDLC& channel_;
};

// A Q.931 message: discriminator 08, a one-octet call reference, the type,
// and a tag octet that tells the messages apart.
inline Bytes L3(uint8_t cref, uint8_t type, uint8_t tag = 0) { return Bytes{0x08, 0x01, cref, type, tag}; }
constexpr uint8_t SETUP = 0x05, ALERTING = 0x01, CONNECT = 0x07, DISCONNECT = 0x45, RELEASE_COMPLETE = 0x5A;

inline std::string TeiType(unsigned t) {
  static char const* const names[] = {"?", "request", "assigned", "denied", "check", "answer", "remove", "verify"};
  return t < 8 ? names[t] : "?";
}

// One frame on the bus: TEI management as "tei <type> ri=<n> ai=<n>", other
// frames as "<TEI> <frame>" (lapdtest::Describe).
inline std::string Line(Bytes const& f, bool from_network) {
  std::ostringstream o;
  if (f.size() >= 8 && (f[0] >> 2) == 63 && f[2] == 0x03 && f[3] == 0x0F) {
    o << "tei " << TeiType(f[6]) << " ri=" << (f[4] | f[5] << 8) << " ai=" << (f[7] >> 1);
    return o.str();
  }
  if (f.size() < 2) return "short frame";
  o << (f[1] >> 1) << " " << lapdtest::Describe(f, from_network);
  return o.str();
}

class Bus {
public:
  explicit Bus(unsigned terminals, unsigned log = 0) : bus(terminals), net(bus.network(), log) {
    bus.network().bind(&net);
    for (unsigned i = 0; i < terminals; ++i) {
      transcripts.emplace_back(new Strings);
      users.emplace_back(new lapdtest::Slot(ISDN::Side::user, bus.terminal(i), *transcripts.back(), log));
      users.back()->link->change_to_bri();
      users.back()->link->set_linkno(10 + i);
      bus.terminal(i).bind(users.back()->link);
    }
  }

  void Pump() { bus.run(); }
  // Moves the clock in steps of 10 ms, firing timers and delivering frames.
  void Run(unsigned ms) {
    for (unsigned t = 0; t < ms; t += 10) {
      clock.advance(10);
      multiplexer.timers_schedule();
      Pump();
    }
  }
  ISDN::LAPD& link(unsigned i) { return *users.at(i)->link; }
  lapdtest::Slot& user(unsigned i) { return *users.at(i); }
  ISDN::LAPD_NT_user& nt_user(unsigned i) { return net.nt->user(i); }

  // The bus since the last Clear: "n ..." from the network, "<i> ..." from
  // terminal i.
  Strings Log() const {
    Strings l;
    for (auto const& s : bus.log())
      l.push_back((s.from < 0 ? std::string("n ") : std::to_string(s.from) + " ") + Line(s.frame, s.from < 0));
    return l;
  }
  std::vector<Bytes> Frames(int from) const {
    std::vector<Bytes> f;
    for (auto const& s : bus.log())
      if (s.from == from) f.push_back(s.frame);
    return f;
  }
  void Clear() {
    bus.clear_log();
    for (auto& u : users) {
      u->events.clear();
      u->received.clear();
    }
    net.received.clear();
    net.events.clear();
  }

  // The network side up, then terminal i asks for its TEI and establishes.
  void Up() {
    net.activate();
    Pump();
  }
  void Attach(unsigned i) {
    user(i).activate();
    Pump();
  }

  looptest::CachedClock clock;
  HdlcTesting::FakeBus bus;
  NetSlot net;
  std::vector<std::unique_ptr<Strings>> transcripts;
  std::vector<std::unique_ptr<lapdtest::Slot>> users;
};

}  // namespace britest
