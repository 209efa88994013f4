// Feeds the network side of a basic-rate bus a sequence of frames and events.
// The first octet picks the log level and whether the link is activated;
// then each record is a frame from the bus (a length octet below 0xF0, then
// that many octets) or an event (0xF0 and up: time passes, a layer-3 message
// comes from above, the link is activated or deactivated). After every
// record each terminal's state must be consistent; at the end every packet
// buffer must be back in the pool and no timer left.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <iterator>

#include "links/isdn/fuzz_records.h"
#include "links/isdn/lapd_nt.h"
#include "transport/protocol.h"

namespace {

using LinkFuzz::Advance;
using LinkFuzz::Check;

// The slot: frames go nowhere, messages from below are dropped, and every
// second one is answered from inside the upward call, as a slot may.
struct Owner : ProtocolsFamily {
  void transmit(Packet& frame) override {
    if (!frame.empty()) ++sent;
  }
  void on_message(Packet& p) override {
    if (++messages % 2 == 0 && p.length() >= 4) highest()->message(p);
  }
  unsigned sent = 0;
  unsigned messages = 0;
};

void CheckUsers(ISDN::LAPD_NT& nt) {
  for (unsigned i = 0; i < ISDN::LAPD_NT::n_users; ++i) {
    ISDN::LAPD_NT_user& u = nt.user(i);
    Check(u.vs() < 128 && u.va() < 128 && u.vr() < 128);
    Check(u.outstanding() <= ISDN::Q921::k);
    // Every frame between V(A) and V(S) is kept for retransmission.
    Check(u.outstanding() == ((u.vs() - u.va()) & 127));
    Check(u.waiting() <= ISDN::Q921::out_limit);
    Check(u.calls() <= ISDN::LAPD_NT_user::max_calls);
    // Two assigned terminals never share a TEI.
    for (unsigned j = i + 1; j < ISDN::LAPD_NT::n_users; ++j)
      if (u.is_assigned() && nt.user(j).is_assigned()) Check(u.get_Tei() != nt.user(j).get_Tei());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  return LinkFuzz::Run(size, [&] {
    Owner owner;
    ISDN::LAPD_NT* nt = new ISDN::LAPD_NT;
    nt->set_log(data[0] & 3);
    owner.add_protocol_tail(nt);
    if (data[0] & 4) owner.activate();
    CheckUsers(*nt);

    // Time passes, from 0xF0 on, by one of these.
    static unsigned const delays[] = {ISDN::Q921::t200_ms, ISDN::LAPD_NT_user::check_ms, ISDN::Q921::t203_ms,
                                      ISDN::LAPD_NT::check_period_ms};
    auto event = [&](uint8_t op, LinkFuzz::Records& in) {
      if (unsigned(op - LinkFuzz::kEvent) < std::size(delays)) {
        Advance(delays[op - LinkFuzz::kEvent]);
        return;
      }
      switch (op) {
        case 0xF4: {
          // A message from above: the next two octets are its call
          // reference and type.
          uint8_t const cref = in.next();
          uint8_t const type = in.next();
          Packet p;
          owner.prepare_head(p);
          for (uint8_t o : {uint8_t(0x08), uint8_t(0x01), cref, type}) p.put8(o);
          owner.message(p);
          break;
        }
        case 0xF5:
          owner.activate();
          break;
        case 0xF6:
          owner.deactivate();
          break;
        default: {
          Packet shortmsg;
          shortmsg.reserve_head(0);
          shortmsg.put8(op);
          owner.message(shortmsg);
          break;
        }
      }
    };
    auto receive = [&](Packet& p) { nt->receive(p); };
    LinkFuzz::Play(data, size, receive, event, [&] { CheckUsers(*nt); });
  });
}
