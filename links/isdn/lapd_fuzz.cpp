// Feeds a LAPD link a sequence of frames and events. The first octet picks
// the side, the log level, the state to start from and basic rate (0x20);
// then each record is a frame (a length octet below 0xF0, then that many
// octets) or an event (0xF0 and up: a timer expiry, a message from layer 3,
// establish, release, the channel refusing, taking again or failing). After every record the
// state variables must be consistent; at the end every packet buffer must be
// back in the pool.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <iostream>

#include "hardware/hdlc.h"
#include "links/isdn/fuzz_records.h"
#include "links/isdn/lapd.h"
#include "transport/protocol.h"

namespace {

using LinkFuzz::Advance;
using LinkFuzz::Check;

struct Device : GenericHDLC {
  bool hdlc_transmit(Packet& frame) override {
    if (frame.empty()) return true;
    if (refusing) return false;
    ++sent;
    return true;
  }
  bool is_open() const override { return true; }
  bool is_ready() const override { return !refusing; }
  bool refusing = false;
  unsigned sent = 0;
};

// The owner sends a message back down for every third one it gets, from
// inside the upward call, as a slot may.
struct Owner : ProtocolsFamily {
  void on_message(Packet& p) override {
    if (++messages % 3 == 0 && !p.empty()) highest()->message(p);
  }
  unsigned messages = 0;
};

void CheckState(ISDN::LAPD const& l) {
  ISDN::LAPDFullState const& s = l.full_state();
  Check(s.state <= 7);
  Check(unsigned(s.vs) < 128 && unsigned(s.va) < 128 && unsigned(s.vr) < 128);
  Check(l.queued_ack() <= 7);
  Check(l.queued_out() <= 135);
  // Only one of the timers can be armed, but the flags may say otherwise
  // after a reported misuse; they never say more than two run.
  Check(int(s.t200_running) + int(s.t202_running) + int(s.t203_running) <= 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  return LinkFuzz::Run(size, [&] {
    Device device;
    Owner owner;
    uint8_t const mode = data[0];
    ISDN::LAPD* link = new ISDN::LAPD(ISDN::Side::user, 0);
    // As the slots do: the basic-rate flag first, then the side.
    if (mode & 0x20) link->change_to_bri();
    link->set_side(mode & 1 ? ISDN::Side::network : ISDN::Side::user);
    link->set_log(mode & 2 ? 4 : 0);
    link->hdlc(&device);
    owner.add_protocol_tail(link);
    // The peer's command C/R for the side.
    uint8_t const cmd = mode & 1 ? 0x00 : 0x02;
    auto frame = [&](std::initializer_list<uint8_t> f) {
      Packet p;
      p.reserve_head(0);
      for (uint8_t o : f) p.put8(o);
      link->receive(p);
    };
    switch (mode >> 2 & 7) {
      case 1:  // awaiting establishment
        owner.activate();
        break;
      case 2:  // established
        frame({cmd, 0x01, 0x7F});
        break;
      case 3:  // timer recovery
        frame({cmd, 0x01, 0x7F});
        Advance(ISDN::Q921::t203_ms);
        break;
      case 4:  // awaiting release
        frame({cmd, 0x01, 0x7F});
        owner.deactivate();
        break;
      default:
        break;
    }
    CheckState(*link);

    auto event = [&](uint8_t op, LinkFuzz::Records&) {
      switch (op) {
        case 0xF0:
          Advance(ISDN::Q921::t200_ms);
          break;
        case 0xF1:
          Advance(ISDN::Q921::t203_ms);
          break;
        case 0xF2: {
          Packet p;
          owner.prepare_head(p);
          p.put8(op);
          owner.message(p);
          break;
        }
        case 0xF3:
          owner.activate();
          break;
        case 0xF4:
          owner.deactivate();
          break;
        case 0xF5:
          device.refusing = true;
          break;
        case 0xF6:
          device.refusing = false;
          link->on_hdlc_ready();
          break;
        case 0xF7:
          link->on_hdlc_error(HDLC::Notify::Cause::read_error);
          break;
        case 0xF8:
          Advance(ISDN::Q921::t202_ms);
          break;
        default: {
          Packet empty;
          owner.message(empty);
          break;
        }
      }
    };
    auto receive = [&](Packet& p) { link->receive(p); };
    LinkFuzz::Play(data, size, receive, event, [&] { CheckState(*link); });
  });
}
